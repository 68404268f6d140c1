#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class QSaveFile;

// One GET whose body is written to disk as it arrives. The target file appears, whole, only when
// the reply was a 200 and delivered every byte its Content-Length announced; otherwise nothing is
// left behind.
class FileDownload : public QObject {
    Q_OBJECT

public:
    static constexpr int kTimeoutMs = 10000;

    explicit FileDownload(QNetworkAccessManager* network, QObject* parent = nullptr);
    ~FileDownload() override;

    void start(const QUrl& url, const QString& targetPath);
    void abort();

signals:
    void responseStarted(qint64 contentLength); // -1 when the reply names none
    void dataReceived(qint64 received);         // bytes of this file so far
    void finished(bool ok, const QString& error);

private:
    void onMetaData();
    void onReadyRead();
    void onFinished();
    void finish(bool ok, const QString& error);

    QNetworkAccessManager* m_network;
    QPointer<QNetworkReply> m_reply;
    std::unique_ptr<QSaveFile> m_file;
    qint64 m_received = 0;
    qint64 m_length = -1;
    int m_status = 0;
    bool m_started = false;
};
