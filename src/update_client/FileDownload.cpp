#include "update_client/FileDownload.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>

using namespace Qt::StringLiterals;

namespace {

// Bounds what the network layer holds for us; the body goes to disk as fast as it comes.
constexpr qint64 kReadBuffer = 1024 * 1024;

} // namespace

FileDownload::FileDownload(QNetworkAccessManager* network, QObject* parent)
    : QObject(parent), m_network(network) {}

FileDownload::~FileDownload() {
    abort();
}

void FileDownload::start(const QUrl& url, const QString& targetPath) {
    m_received = 0;
    m_length = -1;
    m_status = 0;
    m_started = false;
    m_file = std::make_unique<QSaveFile>(targetPath);
    if (!m_file->open(QIODevice::WriteOnly)) {
        const QString error = m_file->errorString();
        m_file.reset();
        // Reported from the event loop so that the caller sees it like any other outcome.
        QMetaObject::invokeMethod(
            this, [this, error] { emit finished(false, error); }, Qt::QueuedConnection);
        return;
    }
    QNetworkRequest request(url);
    request.setTransferTimeout(kTimeoutMs);
    // The body is the file itself: no transfer compression, so Content-Length counts its bytes.
    request.setRawHeader("Accept-Encoding", "identity");
    m_reply = m_network->get(request);
    m_reply->setReadBufferSize(kReadBuffer);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &FileDownload::onMetaData);
    connect(m_reply, &QNetworkReply::readyRead, this, &FileDownload::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &FileDownload::onFinished);
}

void FileDownload::abort() {
    if (m_reply) {
        QNetworkReply* reply = m_reply;
        m_reply = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
    if (m_file) {
        m_file->cancelWriting();
        m_file.reset();
    }
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
    if (m_file->write(chunk) != chunk.size()) {
        finish(false, m_file->errorString());
        return;
    }
    emit dataReceived(m_received);
}

void FileDownload::onFinished() {
    if (!m_reply)
        return;
    onMetaData();
    onReadyRead();
    if (!m_reply)
        return;
    if (m_reply->error() != QNetworkReply::NoError) {
        finish(false, m_reply->errorString());
        return;
    }
    if (m_status != 200) {
        finish(false, u"服务器返回状态 %1"_s.arg(m_status));
        return;
    }
    if (m_length >= 0 && m_received != m_length) {
        finish(false, u"文件下载不完整: 收到 %1 字节, 应为 %2 字节"_s.arg(m_received).arg(m_length));
        return;
    }
    if (!m_file->commit()) {
        const QString error = m_file->errorString();
        m_file.reset();
        finish(false, error);
        return;
    }
    m_file.reset();
    finish(true, QString());
}

void FileDownload::finish(bool ok, const QString& error) {
    abort();
    emit finished(ok, error);
}
