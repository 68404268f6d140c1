#pragma once

#include "update_client/FileDownload.h"
#include "update_client/UpdateDecision.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class QNetworkAccessManager;

// The update path after a differing version: refuses a list it cannot install whole, stages the
// manifest, downloads every entry into the program folder with progress, then publishes the
// manifest, writes the updater out and starts it. The manifest appears in the program folder only
// once every copy is there, so a manifest found there always describes a complete download.
class UpdatePath : public QObject {
    Q_OBJECT

public:
    explicit UpdatePath(QNetworkAccessManager* network, QObject* parent = nullptr);
    ~UpdatePath() override;

    void start(const UpdateInfo& info);
    // An earlier update's copies still wait: hand over to the updater again, downloading nothing.
    void resume();

    // Tests shorten the window over which a download's speed is judged.
    void setSlowTransferWindow(int milliseconds) { m_slowWindowMs = milliseconds; }
    // How long the hand-over waits for the started updater to take the folder before this program
    // ends all the same; tests whose stand-in updater takes nothing set 0.
    static constexpr int kUpdaterWaitMs = 10000;
    void setUpdaterWait(int milliseconds) { m_updaterWaitMs = milliseconds; }

signals:
    void statusChanged(const QString& text);    // labzt
    void sizeTextChanged(const QString& text);  // LabSize
    void speedTextChanged(const QString& text); // LabSD: speed, "下载成功", or an error description
    void progressChanged(int width);            // ImgPrb width, 0 to 445
    void failed(const QString& description);    // failure prompt, second form; the program ends
    void handedOver();                          // the updater runs; the program ends

private:
    QString prepare(const UpdateInfo& info);
    void fetch(int index);
    void onResponseStarted(qint64 contentLength);
    void onDataReceived(qint64 received);
    void onFileFinished(bool ok, const QString& error);
    void handOver(bool publish);
    void awaitUpdater();
    void fail(const QString& description);
    void failLater(const QString& description);

    QNetworkAccessManager* m_network;
    FileDownload* m_download = nullptr;
    QString m_folder;
    QStringList m_entries;
    QList<DownloadCheck> m_checks;
    int m_slowWindowMs = FileDownload::kSlowWindowMs;
    int m_updaterWaitMs = kUpdaterWaitMs;
    QElapsedTimer m_handedOverAt;
    int m_index = 0;
    bool m_resuming = false;
    qint64 m_expectedSize = 0; // 0 until a reply has named its length; then kept for later files
    qint64 m_phaseStart = 0;   // whole seconds since the epoch
    QElapsedTimer m_lastRedraw;
};
