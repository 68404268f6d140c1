#include "update_client/FileDownload.h"

#include "common/ErrorText.h"
#include "common/NetworkTransport.h"
#include "handover/ProgramImage.h"
#include "platform/FileSystem.h"

#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryFile>

using namespace Qt::StringLiterals;

namespace {

// Bounds what the network layer holds for us; the body goes to disk as fast as it comes.
constexpr qint64 kReadBuffer = 1024 * 1024;
// The speed is looked at ten times per window.
constexpr int kTicksPerWindow = 10;

} // namespace

FileDownload::FileDownload(QNetworkAccessManager* network, QObject* parent)
    : QObject(parent), m_network(network) {
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
    m_status = 0;
    m_started = false;
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

    QNetworkRequest request(url);
    net::NetworkTransport::prepare(request, kTimeoutMs);
    // The body is the file itself: no transfer compression, so Content-Length counts its bytes.
    request.setRawHeader("Accept-Encoding", "identity");
    m_reply = m_network->get(request);
    m_reply->setReadBufferSize(kReadBuffer);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &FileDownload::onMetaData);
    connect(m_reply, &QNetworkReply::readyRead, this, &FileDownload::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &FileDownload::onFinished);
    m_samples.clear();
    m_samples.append({0, 0});
    m_clock.start();
    m_speedTick.start(qMax(1, m_slowWindowMs / kTicksPerWindow));
}

void FileDownload::abort() {
    m_speedTick.stop();
    if (m_reply) {
        QNetworkReply* reply = m_reply;
        m_reply = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
    m_file.reset(); // removes the unfinished file
}

void FileDownload::onMetaData() {
    if (m_started || !m_reply)
        return;
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // A redirect's own headers come first; the reply that follows it is the one that counts.
    // A redirect that is not followed still ends up here from onFinished, and fails there.
    if (status >= 300 && status < 400 && m_reply->isRunning())
        return;
    m_started = true;
    m_status = status;
    bool known = false;
    const qint64 length = m_reply->rawHeader("Content-Length").trimmed().toLongLong(&known);
    m_length = known && length >= 0 ? length : -1;
    if (m_status == 200 && m_length > kMaxBytes) {
        fail(describeDownload(DownloadFault::TooLarge, m_target));
        return;
    }
    if (m_status == 200 && m_length >= 0 && m_check.size >= 0 && m_length != m_check.size) {
        fail(describeDownload(DownloadFault::SizeMismatch, m_target, m_length, m_check.size));
        return;
    }
    emit responseStarted(m_length);
}

void FileDownload::onReadyRead() {
    if (!m_reply)
        return;
    const QByteArray chunk = m_reply->readAll();
    if (chunk.isEmpty())
        return;
    // The body of an error page is never written where an update file is expected.
    if (m_status != 200)
        return;
    m_received += chunk.size();
    if (m_length >= 0 && m_received > m_length) {
        fail(describeDownload(DownloadFault::LongerThanAnnounced, m_target));
        return;
    }
    if (m_received > kMaxBytes) {
        fail(describeDownload(DownloadFault::TooLarge, m_target));
        return;
    }
    if (m_check.size >= 0 && m_received > m_check.size) {
        fail(describeDownload(DownloadFault::SizeMismatch, m_target, m_received, m_check.size));
        return;
    }
    if (m_hash)
        m_hash->addData(chunk);
    if (m_file->write(chunk) != chunk.size()) {
        fail(describeFileError(m_file->error(), m_target));
        return;
    }
    emit dataReceived(m_received);
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

void FileDownload::onFinished() {
    if (!m_reply)
        return;
    onMetaData();
    onReadyRead();
    if (!m_reply)
        return;
    net::Result result;
    result.status = m_status;
    result.qtError = m_reply->error();
    result.error = net::NetworkTransport::errorFrom(m_reply->error());
    if (!result.arrived() || m_status != 200) {
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
