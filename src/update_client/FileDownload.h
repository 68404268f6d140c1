#pragma once

#include "common/NetworkTransport.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <memory>

class QNetworkAccessManager;
class QTemporaryFile;

// What a download must be to be taken.
struct DownloadCheck {
    qint64 size = -1;     // exact size in bytes; -1: not known
    QByteArray sha256;    // raw digest; empty: not known
    bool program = false; // must be a program for this system (the main program)
};

// One GET through the network core whose body streams to disk as it arrives, into a file created
// afresh (never through a link) in the work folder. The target appears, whole and on disk, only
// when the reply was a 200, delivered exactly the bytes it announced and passed the check;
// otherwise nothing is left behind. A reply that grows past its length or the size limit, or that
// trickles, is aborted.
class FileDownload : public QObject {
    Q_OBJECT

public:
    static constexpr int kTimeoutMs = 10000;
    static constexpr qint64 kMaxBytes = 1024LL * 1024 * 1024;
    // As curl's --speed-limit 1024 --speed-time 30.
    static constexpr qint64 kSlowBytesPerSecond = 1024;
    static constexpr int kSlowWindowMs = 30000;

    explicit FileDownload(QNetworkAccessManager* network, QObject* parent = nullptr);
    ~FileDownload() override;

    // Tests shorten the window over which the average speed is judged.
    void setSlowTransferWindow(int milliseconds) { m_slowWindowMs = milliseconds; }
    // Where the unfinished file lives; by default the target's folder. Must be on its volume.
    void setWorkFolder(const QString& folder) { m_workFolder = folder; }
    // Tests set a small limit to try it at its edge.
    void setMaxBytes(qint64 bytes) { m_maxBytes = bytes; }

    void start(const QUrl& url, const QString& targetPath, const DownloadCheck& check = {});
    void abort();

signals:
    void responseStarted(qint64 contentLength); // -1 when the reply names none
    void dataReceived(qint64 received);         // bytes of this file so far
    void finished(bool ok, const QString& error);

private:
    class Sink;
    bool onBegin(qint64 contentLength);
    bool onChunk(const QByteArray& chunk);
    void onDone(const net::Result& result);
    void onSpeedTick();
    void finish(bool ok, const QString& error);
    void fail(const QString& error);

    net::NetworkTransport m_transport;
    QObject* m_exchange = nullptr; // the running exchange ends with it
    QString m_fault;               // why the sink refused the reply
    std::unique_ptr<QTemporaryFile> m_file;
    std::unique_ptr<QCryptographicHash> m_hash;
    QString m_target;
    QString m_workFolder;
    DownloadCheck m_check;
    qint64 m_received = 0;
    qint64 m_length = -1;
    qint64 m_maxBytes = kMaxBytes;
    int m_slowWindowMs = kSlowWindowMs;
    QTimer m_speedTick;
    QElapsedTimer m_clock;
    QList<std::pair<qint64, qint64>> m_samples; // (ms since start, bytes received), oldest first
};
