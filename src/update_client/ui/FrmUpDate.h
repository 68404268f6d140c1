#pragma once

#include "common/NetworkTransport.h"
#include "update_client/FileDownload.h"

#include <QNetworkAccessManager>
#include <QPixmap>
#include <QWidget>

class QLabel;
class UpdateCheck;
class UpdatePath;
struct UpdateInfo;

namespace handover {
struct UpdateOutcome;
}

// The start-up window: checks for a newer version and either hands over to the login window,
// runs the update path, or reports the failure; the program ends in every case but the first.
// A start after a failed install tells of it once and goes on to the login window; the version
// that failed is not fetched again for a day.
class FrmUpDate : public QWidget {
    Q_OBJECT

public:
    explicit FrmUpDate(QWidget* parent = nullptr);
    ~FrmUpDate() override;

    // Runs the check: restarts elevated when needed, shows the window, asks the update server.
    void start();

    // Tests shorten the wait for a server that does not answer, and for a trickling download.
    void setRequestTimeout(int milliseconds);
    void setRequestDeadline(int milliseconds);
    void setSlowTransferWindow(int milliseconds) { m_slowWindowMs = milliseconds; }

signals:
    void proceedToLogin(); // nothing to install: open the login window (this window closes)
    void endProgram();     // the program ends now

protected:
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void nothingToInstall();
    void runUpdatePath(const UpdateInfo& info);
    void resumeUpdate();
    void tellFailedInstall(handover::UpdateOutcome outcome);
    void createPath();
    void showFailure(const QString& promptText);
    void end();

    QNetworkAccessManager m_network;
    net::NetworkTransport m_transport{&m_network};
    QPixmap m_backdrop;
    QPixmap m_bar;
    UpdateCheck* m_check = nullptr;
    UpdatePath* m_path = nullptr;
    bool m_ended = false;
    int m_slowWindowMs = FileDownload::kSlowWindowMs;

    QLabel* m_ico;
    QLabel* m_title;
    QLabel* m_end;
    QLabel* m_status;
    QLabel* m_oldVer;
    QLabel* m_newVer;
    QLabel* m_size;
    QLabel* m_speed;
    QLabel* m_progress;
};
