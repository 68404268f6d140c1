#pragma once

#include "journal/JournalTypes.h"
#include "query/QueryRun.h"
#include "query/Thresholds.h"

#include <QStringList>
#include <QWidget>

#include <memory>

class CookieSource;
class PonSummaryController;
class JournalController;
class LayoutMemory;
class QNetworkAccessManager;
class ResultModel;
class RowMarker;
class RunJournal;
class RunWiring;
class SessionPostClient;
class TeamStore;
class TeamSync;
struct MainControls;
namespace net {
class NetworkTransport;
}

// The working window: account list, rate, Start/Stop/Export, the result list and progress. Its
// controls are MainControls, the list's rows ResultModel with the marks of RowMarker, the run's
// wiring RunWiring, the PON port summary PonSummaryController; the window itself holds them together and
// decides about closing.
class FrmMain : public QWidget {
    Q_OBJECT

public:
    // Highlighting thresholds and the fault rules come from Thresholds::iniPath() as it is at
    // construction.
    explicit FrmMain(const CookieSource* cookies, QWidget* parent = nullptr);
    ~FrmMain() override;

    // The account text as the run reads it: every line break the user typed or pasted is CR LF.
    QString accountText() const;
    QStringList headerTexts() const;
    // The cells of the list's rows as the run holds them (what the export writes).
    QList<QStringList> rowTexts() const;
    QueryRun* run() const { return m_run; }
    const Thresholds& thresholds() const { return m_thresholds; }

    // The login window shows a signed-in page: a run waiting for a new session goes on, unless
    // the page belongs to the session that was refused.
    void sessionRenewed();
    // Goes on with a run that was cut short: the list shows the rows as saved, and those not
    // finished are asked at `rate` a minute. false while a run is going.
    bool continueSavedRows(const QList<QueryRun::SavedRow>& rows, int rate);
    // Every run from now on is recorded in journal, which must outlive this window; its readings
    // mark drops, fill "查看历史" and the export's "历史" sheet. With a team database (store and
    // sync, which must outlive this window too), the team's readings join them and a line beside
    // the bar shows how the database stands. Once only.
    void attachJournal(RunJournal* journal, TeamStore* store = nullptr, TeamSync* sync = nullptr);
    // Puts a journal run cut short back on the list and goes on with it (needs attachJournal).
    // false while a run is going.
    bool restoreJournalRun(const journal::RestoredRun& stored);
    // "是否确认退出", asked over `asker` (this window when null); once Yes, always true.
    bool confirmExit(QWidget* asker = nullptr);

signals:
    // The user confirmed leaving: the whole program ends.
    void programEndRequested();
    // The run met the sign-in page: the login window should come forward for a new sign-in.
    void signInNeeded();
    // The login window should come forward as it is ("重新登录", or a sign-in that did not renew).
    void signInWindowWanted();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    Thresholds m_thresholds;
    QNetworkAccessManager* m_network;
    std::unique_ptr<net::NetworkTransport> m_transport;
    SessionPostClient* m_client;
    QueryRun* m_run;
    std::unique_ptr<RowMarker> m_marker;
    ResultModel* m_model;
    std::unique_ptr<MainControls> m_controls;
    RunWiring* m_wiring;
    PonSummaryController* m_faults;
    JournalController* m_journalController = nullptr;
    bool m_exitConfirmed = false;
    bool m_placed = false; // fitted to its screen at the first show
    // Last: it writes the layout while the controls are still there.
    std::unique_ptr<LayoutMemory> m_layout;
};
