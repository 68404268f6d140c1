#pragma once

#include <QObject>

#include <memory>

class CookieSource;
class FrmMain;
class QWidget;
class RunJournal;
class TeamStore;
class TeamSync;

// The windows after the update check, without the sign-in window: the program connects its login
// window to signedIn() and signInNeeded(); a build without the browser calls signedIn() at once.
// Every run is recorded in the run journal; a run cut short is offered back once the main window
// is first up. Where vesmora.ini names a team database, the journal's readings go to it too and
// the team's come back into the history.
class WorkWindows : public QObject {
    Q_OBJECT

public:
    // journalPath: the journal file; empty for the one in the user's data folder.
    explicit WorkWindows(const CookieSource* cookies, QObject* parent = nullptr,
                         const QString& journalPath = QString());
    ~WorkWindows() override;

    // A signed-in page: the main window opens (an open one stays as it is) and a run waiting for
    // a new session goes on.
    void signedIn();
    FrmMain* mainWindow() const { return m_main.get(); }
    // Whether the program may end now that the user closes the window `asker`: before the main
    // window exists at once, after that only on "是否确认退出".
    bool confirmEnd(QWidget* asker);

signals:
    // The run met the sign-in page.
    void signInNeeded();
    // The login window should come forward as it is.
    void signInWindowWanted();
    // The user confirmed leaving the main window.
    void endProgram();

private:
    void showJournalNotice();
    // "上次查询未完成（已完成 n/N），是否继续?" over the main window, when a run was cut short.
    void offerRestore();
    void answerRestore(qint64 journalRun, bool restore);

    const CookieSource* m_cookies;
    std::unique_ptr<RunJournal> m_journal;
    // Null without a team database.
    std::unique_ptr<TeamStore> m_teamStore;
    std::unique_ptr<TeamSync> m_teamSync;
    std::unique_ptr<FrmMain> m_main;
};
