#pragma once

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

// Answers every request on loopback with status 200 and the given body, announced by its length
// or ended by closing the connection, so that a size limit can be tried to the byte. A reply held
// open sends the body and never ends, so only a limit the client applies as it reads can stop it.
// Optionally: another Content-Type, the body a byte at a time (announced, then closed), and a
// number of redirects to itself before the first answer.
// It goes out in one write: a chain of writes, each started by the last one's bytesWritten, once
// kept this thread's socket messages coming so fast under wine that the client's queued reads and
// timers, on the same thread, did not run for 90 s.
class FixedReplyServer : public QObject {
public:
    enum Length { Announced, NotAnnounced, HeldOpen };

    FixedReplyServer(const QByteArray& body, bool withLength)
        : FixedReplyServer(body, withLength ? Announced : NotAnnounced) {}
    FixedReplyServer(const QByteArray& body, Length length) : m_body(body), m_length(length) {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/reply").arg(m_server.serverPort())); }
    void setContentType(const QByteArray& type) { m_contentType = type; }
    void setTrickle(int msPerByte) { m_msPerByte = msPerByte; }
    void setRedirects(int count) { m_redirects = count; }

private:
    void serve(QTcpSocket* socket) {
        QByteArray& pending = m_pending[socket];
        pending += socket->readAll();
        const qsizetype end = pending.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        qsizetype length = 0;
        for (const QByteArray& line : pending.left(end).split('\n')) {
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toLongLong();
        }
        if (pending.size() < end + 4 + length)
            return;
        m_pending.remove(socket);
        if (m_redirects > 0) {
            --m_redirects;
            socket->write("HTTP/1.1 302 Found\r\nLocation: /reply?" + QByteArray::number(m_redirects) +
                          "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            socket->disconnectFromHost();
            return;
        }
        QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: " + m_contentType + "\r\nConnection: close\r\n";
        if (m_length == Announced)
            head += "Content-Length: " + QByteArray::number(m_body.size()) + "\r\n";
        if (m_msPerByte > 0) {
            socket->write(head + "\r\n");
            auto* timer = new QTimer(socket);
            connect(timer, &QTimer::timeout, socket, [this, socket, sent = qsizetype(0)]() mutable {
                if (sent < m_body.size())
                    socket->write(m_body.mid(sent++, 1));
                else
                    socket->disconnectFromHost();
            });
            timer->start(m_msPerByte);
            return;
        }
        socket->write(head + "\r\n" + m_body);
        if (m_length != HeldOpen)
            socket->disconnectFromHost();
    }

    QByteArray m_body;
    Length m_length;
    QByteArray m_contentType = "text/plain; charset=utf-8";
    int m_msPerByte = 0;
    int m_redirects = 0;
    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_pending;
};
