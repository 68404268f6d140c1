#pragma once

// CONTRACT (to be implemented): the window binds to exactly this surface; more may be added.

#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>

class SessionPostClient;
class MonotonicClock;

// One batch of accounts: builds the rows, paces them by the rate budget, runs the two lookups per
// row and reports every change for the window to show. Event driven: no call blocks.
class QueryRun : public QObject {
    Q_OBJECT

public:
    static constexpr int kColumnCount = 11;
    using Row = std::array<QString, kColumnCount>;

    // clock may be null: a real monotonic clock is used.
    QueryRun(SessionPostClient* client, MonotonicClock* clock = nullptr, QObject* parent = nullptr);
    ~QueryRun() override;

    static QString emptyInputMessage(); // "请先输入要查询的209帐号，一行一个!"
    // Pieces between CR LF pairs, empty ones dropped.
    static QStringList splitAccounts(const QString& text);

    // The rate (queries per minute) is asked for at every rate check.
    void setRateSource(std::function<int()> rate);

    // false (and nothing changes) when the text is empty: the window shows emptyInputMessage().
    bool start(const QString& accountText);
    void stop(); // takes effect at the top of the next row or the next pause tick

    bool isRunning() const;
    bool stopRequested() const;
    const QList<Row>& rows() const;

signals:
    void rowsBuilt(int count);                              // the list is replaced by count rows
    void cellChanged(int row, int column, const QString& text); // row from 0
    void rowDone(int row);                                  // scroll it into view; progress = row + 1
    void paused(const QString& countdownText);               // "限速暂停中(" + s + "S）……"
    void resumed();                                         // the pause frame hides
    void finished(const QString& message);                  // "查询结束!" or "已停止查询!"
};
