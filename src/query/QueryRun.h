#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <array>
#include <functional>
#include <memory>

class JsonReply;
class MonotonicClock;
class SessionPostClient;

// One batch of accounts: builds the rows, paces them by the rate budget, runs the two lookups per
// row and reports every change for the window to show. Event driven: no call blocks.
class QueryRun : public QObject {
    Q_OBJECT

public:
    static constexpr int kColumnCount = 11;
    using Row = std::array<QString, kColumnCount>;

    enum Column {
        Account = 0,
        Result = 1,
        OnuAccept = 2,
        OnuSend = 3,
        OltAccept = 4,
        OltSend = 5,
        Ems = 6,
        OltIp = 7,
        OltPon = 8,
        Loid = 9,
        SplitterName = 10,
    };

    // clock may be null: a real monotonic clock is used.
    QueryRun(SessionPostClient* client, MonotonicClock* clock = nullptr, QObject* parent = nullptr);
    ~QueryRun() override;

    static QString emptyInputMessage(); // "请先输入要查询的209帐号，一行一个!"
    static QString finishedMessage();   // "查询结束!"
    static QString stoppedMessage();    // "已停止查询!"
    // Pieces between CR LF pairs, empty ones dropped.
    static QStringList splitAccounts(const QString& text);

    // "限速暂停中(" + s + "S）……" for this many milliseconds since the start of the run.
    static QString countdownText(qint64 elapsedMs);
    // Whether row n (1-based) may start: rate x (whole minutes since the start + 1) >= n.
    static bool withinBudget(qint64 rate, qint64 elapsedMs, qint64 rowNumber);

    // Request bodies: fixed keys in fixed order, each value form-encoded so that the server
    // decodes exactly the cell text.
    static QByteArray resourceBody(const Row& row);
    static QByteArray powerBody(const Row& row);

    // The rate (queries per minute) is asked for at every rate check.
    void setRateSource(std::function<int()> rate);
    // Where the two lookups go; by default the operator endpoints, read when a run starts.
    void setOperatorBase(const QUrl& base);
    // Longest gap between two looks at the clock while paused. The pause otherwise wakes once
    // per second of the run, when the countdown changes.
    void setPauseTickMs(int milliseconds) { m_pauseTickMs = milliseconds; }

    // false (and nothing changes) when the text is empty or a run is going: the window shows
    // emptyInputMessage() for the first. rowsBuilt is emitted inside this call; every other
    // signal, finished included, comes later from the event loop.
    bool start(const QString& accountText);
    void stop(); // takes effect at the top of the next row or the next pause tick
    // While held (a question or the export waits for the user), no new row starts and a pause
    // stands still; replies already asked for still fill their row. Holds nest.
    void hold();
    void release();

    bool isRunning() const;
    bool stopRequested() const;
    bool isPaused() const { return m_paused; }
    const QList<Row>& rows() const;

signals:
    void rowsBuilt(int count);                                  // the list is replaced by count rows
    void cellChanged(int row, int column, const QString& text); // row from 0
    void rowDone(int row);                                      // scroll it into view; progress = row + 1
    void paused(const QString& countdownText);                  // "限速暂停中(" + s + "S）……"
    void resumed();                                             // the pause frame hides
    void finished(const QString& message);                      // "查询结束!" or "已停止查询!"

private:
    // True when the step must wait for release(), which then runs it.
    bool heldAt(void (QueryRun::*step)());
    void nextRow();
    void rateCheck();
    void lookUpResources();
    void onResourceReply(const QString& reply);
    void onPowerReply(const QString& reply);
    void completeRow();
    void finish();
    void hidePause();
    void setCell(int column, const QString& text);
    // An absent or null member leaves its cell as it was.
    void writeMember(const JsonReply& reply, int column, const QString& member);

    SessionPostClient* m_client;
    std::unique_ptr<MonotonicClock> m_ownClock;
    MonotonicClock* m_clock;
    std::function<int()> m_rate;
    QUrl m_operatorBase;
    QUrl m_resourceUrl;
    QUrl m_powerUrl;

    QList<Row> m_rows;
    int m_current = -1; // 0-based index of the row being worked on
    int m_holds = 0;
    void (QueryRun::*m_heldStep)() = nullptr;
    qint64 m_startMs = 0;
    bool m_running = false;
    bool m_stop = false;
    bool m_paused = false;
    QString m_lastCountdown;
    int m_pauseTickMs = 1000;
    QTimer m_pauseTimer;
};
