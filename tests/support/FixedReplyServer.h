#pragma once

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

// Answers every request on loopback with status 200 and the given body, announced by its length
// or ended by closing the connection, so that a size limit can be tried to the byte. An endless
// reply repeats the body for as long as the client reads, and never more than it reads, so that a
// client which stops leaves nothing flooding the machine.
class FixedReplyServer : public QObject {
public:
    enum Length { Announced, NotAnnounced, Endless };

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
        QByteArray head =
            "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\nConnection: close\r\n";
        if (m_length == Announced)
            head += "Content-Length: " + QByteArray::number(m_body.size()) + "\r\n";
        socket->write(head + "\r\n" + m_body);
        if (m_length != Endless) {
            socket->disconnectFromHost();
            return;
        }
        connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] {
            if (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() == 0)
                socket->write(m_body);
        });
    }

    QByteArray m_body;
    Length m_length;
    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_pending;
};
