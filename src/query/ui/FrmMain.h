#pragma once

#include "query/QueryRun.h"
#include "query/Thresholds.h"

#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <memory>

class AccountEdit;
class CookieSource;
class QAction;
class QComboBox;
class QFrame;
class QLabel;
class QMessageBox;
class QNetworkAccessManager;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class QueryRun;
class SessionPostClient;
namespace net {
class NetworkTransport;
}

// The working window: account list, rate, Start/Stop/Export, the result list and progress.
// Controls carry their names as object names (TxtZh, LstV, CmdStart, ...).
class FrmMain : public QWidget {
    Q_OBJECT

public:
    // Highlighting thresholds come from Thresholds::iniPath() as it is at construction.
    explicit FrmMain(const CookieSource* cookies, QWidget* parent = nullptr);
    ~FrmMain() override;

    // The account text as the run reads it: every line break the user typed or pasted is CR LF.
    QString accountText() const;
    QStringList headerTexts() const;
    QList<QStringList> rowTexts() const;
    QueryRun* run() const { return m_run; }
    const Thresholds& thresholds() const { return m_thresholds; }

    // The login window shows a signed-in page: a run waiting for a new session goes on, unless
    // the page belongs to the session that was refused.
    void sessionRenewed();
    // Goes on with a run that was cut short: the list shows the rows as saved, and those not
    // finished are asked at `rate` a minute. false while a run is going.
    bool resumeRun(const QList<QueryRun::SavedRow>& rows, int rate);
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

private:
    void onStartClicked();
    void onStopClicked();
    void onSaveClicked();
    void onRetryTriggered();
    void onRowsBuilt(int count);
    void onStarted(int total);
    void onRowDone(int row, int done);
    void onSessionLost();
    void onFailureStreak();
    void onFinished(const QString& message);
    void showFrame(QLabel* visible);
    void setIdleControls(bool idle);
    // Colours and tooltip of one cell from the row's state and the thresholds.
    void markCell(QTreeWidgetItem* item, int row, int column) const;
    void markRow(int row);

    QLabel* Label1;
    AccountEdit* TxtZh;
    QLabel* Label2;
    QTreeWidget* LstV;
    QFrame* Frame1;
    QLabel* LabTip;
    QLabel* LabSession;
    QPushButton* CmdSignIn;
    QProgressBar* Prg;
    QLabel* Label3;
    QComboBox* COBNUM;
    QLabel* Label4;
    QPushButton* CmdStart;
    QPushButton* CmdStop;
    QPushButton* CmdSave;
    QAction* mnuRetry;

    Thresholds m_thresholds;
    QNetworkAccessManager* m_network;
    std::unique_ptr<net::NetworkTransport> m_transport;
    SessionPostClient* m_client;
    QueryRun* m_run;
    QPointer<QMessageBox> m_question;
    bool m_exitConfirmed = false;
};
