#include "update_client/FileDownload.h"

#include "common/ErrorText.h"
#include "common/NetworkTransport.h"
#include "handover/ProgramImage.h"
#include "platform/FileSystem.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

using namespace Qt::StringLiterals;

namespace {

// The speed is looked at ten times per window.
constexpr int kTicksPerWindow = 10;

} // namespace

// Hands the body to the download while it runs; after that, to no one.
class FileDownload::Sink : public net::BodySink {
public:
    explicit Sink(FileDownload* download) : m_download(download) {}
    bool begin(qint64 contentLength) override { return m_download && m_download->onBegin(contentLength); }
    bool write(const QByteArray& chunk) override { return m_download && m_download->onChunk(chunk); }

private:
    QPointer<FileDownload> m_download;
};

FileDownload::FileDownload(QNetworkAccessManager* network, QObject* parent)
    : QObject(parent), m_transport(network) {
    connect(&m_speedTick, &QTimer::timeout, this, &FileDownload::onSpeedTick);
}

FileDownload::~FileDownload() {
    abort();
}

void FileDownload::start(const QUrl& url, const QString& targetPath, const DownloadCheck& check) {
    abort();
    m_target = targetPath;
    m_check = check;
    m_received = 0;
    m_length = -1;
    m_fault.clear();
    // Hashing costs more than the transfer itself: only when there is a digest to compare with.
    m_hash.reset();
    if (!check.sha256.isEmpty())
        m_hash = std::make_unique<QCryptographicHash>(QCryptographicHash::Sha256);

    QString error;
    if (platform::isLink(targetPath)) {
        error = describeDownload(DownloadFault::ThroughLink, targetPath);
    } else {
        const QString folder = m_workFolder.isEmpty() ? QFileInfo(targetPath).absolutePath() : m_workFolder;
        // Created exclusively under a fresh name: never an existing file, never through a link.
        m_file = std::make_unique<QTemporaryFile>(QDir(folder).filePath(u"download-XXXXXX"_s));
        if (!m_file->open()) {
            error = describeFileError(m_file->error(), m_file->fileTemplate());
            m_file.reset();
        }
    }
    if (!error.isEmpty()) {
        // Reported from the event loop so that the caller sees it like any other outcome.
        QMetaObject::invokeMethod(
            this, [this, error] { emit finished(false, error); }, Qt::QueuedConnection);
        return;
    }

    net::Request request;
    request.url = url;
    request.method = QByteArrayLiteral("GET");
    // The body is the file itself: no transfer compression, so Content-Length counts its bytes.
    request.headers.append({QByteArrayLiteral("Accept-Encoding"), QByteArrayLiteral("identity")});
    request.transferTimeoutMs = kTimeoutMs;
    request.maxBodyBytes = m_maxBytes;
    request.sink = std::make_shared<Sink>(this);
    m_exchange = new QObject(this);
    m_transport.send(request, m_exchange, [this](const net::Result& result) { onDone(result); });
    m_samples.clear();
    m_samples.append({0, 0});
    m_clock.start();
    m_speedTick.start(qMax(1, m_slowWindowMs / kTicksPerWindow));
}

void FileDownload::abort() {
    m_speedTick.stop();
    // The transport aborts the exchange of a context that goes, and calls nothing back.
    delete m_exchange;
    m_exchange = nullptr;
    m_file.reset(); // removes the unfinished file
}

bool FileDownload::onBegin(qint64 contentLength) {
    m_length = contentLength;
    if (m_length >= 0 && m_check.size >= 0 && m_length != m_check.size) {
        m_fault = describeDownload(DownloadFault::SizeMismatch, m_target, m_length, m_check.size);
        return false;
    }
    emit responseStarted(m_length);
    return true;
}

bool FileDownload::onChunk(const QByteArray& chunk) {
    if (!m_file)
        return false;
    m_received += chunk.size();
    if (m_length >= 0 && m_received > m_length) {
        m_fault = describeDownload(DownloadFault::LongerThanAnnounced, m_target);
        return false;
    }
    // How far past it the count is when this is seen depends on how the bytes came in.
    if (m_check.size >= 0 && m_received > m_check.size) {
        m_fault = describeDownload(DownloadFault::LargerThanExpected, m_target, -1, m_check.size);
        return false;
    }
    if (m_hash)
        m_hash->addData(chunk);
    if (m_file->write(chunk) != chunk.size()) {
        m_fault = describeFileError(m_file->error(), m_target);
        return false;
    }
    emit dataReceived(m_received);
    return true;
}

// Aborts when the bytes of the last window average under the limit, as curl's speed limit does;
// the transfer time-out alone is reset by every byte, however slow.
void FileDownload::onSpeedTick() {
    const qint64 now = m_clock.elapsed();
    m_samples.append({now, m_received});
    while (m_samples.size() > 1 && m_samples.at(1).first <= now - m_slowWindowMs)
        m_samples.removeFirst();
    const auto& [since, bytes] = m_samples.first();
    if (now - since < m_slowWindowMs)
        return;
    if ((m_received - bytes) * 1000 < kSlowBytesPerSecond * (now - since))
        fail(describeDownload(DownloadFault::TooSlow, m_target));
}

void FileDownload::onDone(const net::Result& result) {
    // The exchange is over; its context goes with the rest of this download.
    m_exchange->deleteLater();
    m_exchange = nullptr;
    if (result.error == net::Error::Stopped) {
        fail(m_fault);
        return;
    }
    if (result.error == net::Error::TooLarge) {
        fail(describeDownload(DownloadFault::TooLarge, m_target));
        return;
    }
    // A reply cut short is told by how much of it came, however the transport noticed the end.
    const bool cutShort = m_length >= 0 && m_received < m_length;
    if (!cutShort && (!result.arrived() || result.status != 200)) {
        fail(describeHttp(result));
        return;
    }
    if (m_length >= 0 && m_received != m_length) {
        fail(describeDownload(DownloadFault::ShorterThanAnnounced, m_target, m_received, m_length));
        return;
    }
    if (m_check.size >= 0 && m_received != m_check.size) {
        fail(describeDownload(DownloadFault::SizeMismatch, m_target, m_received, m_check.size));
        return;
    }
    if (m_hash && m_hash->result() != m_check.sha256) {
        fail(describeDownload(DownloadFault::HashMismatch, m_target));
        return;
    }
    // On disk before it counts as downloaded: an updater must not install a copy that a power
    // cut can leave empty.
    if (!platform::syncFile(*m_file)) {
        fail(describeFileError(m_file->error(), m_target));
        return;
    }
    // A temporary file stays open through close(), and Windows renames no file that is open
    // without sharing its deletion: the file is let go of here, and removed by hand if not used.
    const QString part = m_file->fileName();
    m_file->setAutoRemove(false);
    m_file.reset();
    if (m_check.program && !handover::isProgramImage(part)) {
        QFile::remove(part);
        fail(describeDownload(DownloadFault::NotAProgram, m_target));
        return;
    }
    // A link that appeared meanwhile is replaced, never followed.
    if (!platform::replaceFile(part, m_target)) {
        QFile::remove(part);
        fail(describeFileError(QFileDevice::RenameError, m_target));
        return;
    }
    finish(true, QString());
}

void FileDownload::fail(const QString& error) {
    finish(false, error);
}

void FileDownload::finish(bool ok, const QString& error) {
    abort();
    emit finished(ok, error);
}
