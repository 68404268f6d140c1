#pragma once

#include "journal/JournalTypes.h"
#include "query/PonSummary.h"
#include "query/QueryRun.h"

#include <QObject>
#include <QPointer>

#include <functional>

class QLabel;
class QMessageBox;
class QWidget;
class ResultModel;
class Thresholds;
struct MainControls;

// Joins the run to the main window's controls: Start, Stop, Export and retry, the progress, the
// pause frame with its countdown or lost-session notice, the three-failures question and the end
// message.
class RunWiring : public QObject {
    Q_OBJECT

public:
    RunWiring(QWidget* window, const MainControls* controls, QueryRun* run, ResultModel* rows,
              const Thresholds* thresholds);

    // Goes on with saved rows at `rate` a minute (an entry of the rate list, added when missing).
    bool resume(const QList<QueryRun::SavedRow>& rows, int rate);
    // The stored readings of the list's accounts, asked at every export for its "历史" sheet.
    using HistorySource = std::function<QList<journal::Reading>(const QStringList& accounts)>;
    void setHistorySource(HistorySource source) { m_history = std::move(source); }
    // The list's PON ports, asked at every export for its "PON口汇总" sheet.
    using PortSource = std::function<QList<PonPort>()>;
    void setPortSource(PortSource source) { m_ports = std::move(source); }
    // The user went to rows of their own choosing: a run no longer scrolls the list to its newest
    // row until the user scrolls that row back into view.
    void stopFollowing() { m_following = false; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    // The run met the sign-in page: the login window should come forward for a new sign-in.
    void signInNeeded();
    // "重新登录" in the pause frame.
    void signInWindowWanted();

private:
    void onStartClicked();
    void onStopClicked();
    void onSaveClicked();
    void onStarted(int total);
    void onRowDone(int row, int done);
    // A scroll the user made: the list follows the run only while its newest row is in view.
    void onListScrolled();
    // The bar and the scroll to the newest row, shown with the list's own repaint so that the
    // window paints once for both.
    void showProgress();
    void onSessionLost();
    void onFailureStreak();
    void onFinished(const QString& message);
    void showFrame(QLabel* visible);
    void setIdleControls(bool idle);

    QWidget* m_window;
    const MainControls* m_c;
    QueryRun* m_run;
    ResultModel* m_rows;
    const Thresholds* m_thresholds;
    QPointer<QMessageBox> m_question;
    HistorySource m_history;
    PortSource m_ports;
    bool m_following = true;
    bool m_userScroll = false;  // the scroll bar moves by the user's hand
    int m_newest = -1;          // the row done last
    int m_done = 0;             // rows done of the run's total
    bool m_progressDue = false; // rows done since the bar was last shown
};
