#pragma once

#include <QStringList>
#include <QWidget>

#include <memory>

class CookieSource;
class QComboBox;
class QFrame;
class QLabel;
class QNetworkAccessManager;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QueryRun;
class SessionPostClient;
namespace net {
class NetworkTransport;
}

// The working window: account list, rate, Start/Stop/Export, the result list and progress.
class FrmMain : public QWidget {
    Q_OBJECT

public:
    explicit FrmMain(const CookieSource* cookies, QWidget* parent = nullptr);
    ~FrmMain() override;

    // The account text as the run reads it: every line break the user typed or pasted is CR LF.
    QString accountText() const;
    QStringList headerTexts() const;
    QList<QStringList> rowTexts() const;
    QueryRun* run() const { return m_run; }

    // Controls, named as the rest of the program and the tests know them.
    QLabel* Label1;
    QPlainTextEdit* TxtZh;
    QLabel* Label2;
    QTreeWidget* LstV;
    QFrame* Frame1;
    QLabel* LabTip;
    QProgressBar* Prg;
    QLabel* Label3;
    QComboBox* COBNUM;
    QLabel* Label4;
    QPushButton* CmdStart;
    QPushButton* CmdStop;
    QPushButton* CmdSave;

signals:
    // The user confirmed leaving: the whole program ends.
    void programEndRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void onStartClicked();
    void onStopClicked();
    void onSaveClicked();
    void onRowsBuilt(int count);
    void onFinished(const QString& message);
    void setIdleControls(bool idle);

    QNetworkAccessManager* m_network;
    std::unique_ptr<net::NetworkTransport> m_transport;
    SessionPostClient* m_client;
    QueryRun* m_run;
};
