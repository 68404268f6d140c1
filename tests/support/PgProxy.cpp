#include "PgProxy.h"

#include <QTcpSocket>
#include <QtEndian>

namespace {

// The length of the whole message at the front of data (type byte included when typed), or 0
// while it is not all there.
qsizetype messageLength(const QByteArray& data, bool typed) {
    const qsizetype head = typed ? 1 : 0;
    if (data.size() < head + 4)
        return 0;
    const qsizetype length = head + qFromBigEndian<qint32>(data.constData() + head);
    return data.size() >= length ? length : 0;
}

} // namespace

PgProxy::PgProxy(const QString& host, int port) : m_host(host), m_serverPort(port) {
    m_listener.listen(QHostAddress::LocalHost);
    connect(&m_listener, &QTcpServer::newConnection, this, &PgProxy::accept);
}

void PgProxy::setDown(bool down) {
    m_down = down;
    if (down)
        cut();
}

void PgProxy::holdAt(const QByteArray& text, Hold hold) {
    m_holdText = text;
    m_hold = hold;
}

void PgProxy::cut() {
    m_holdText.clear();
    const QList<Link*> links = m_links;
    for (Link* link : links)
        close(link, true);
}

void PgProxy::accept() {
    while (QTcpSocket* client = m_listener.nextPendingConnection()) {
        if (m_down) {
            client->abort();
            client->deleteLater();
            continue;
        }
        auto* link = new Link;
        link->client = client;
        link->server = new QTcpSocket(this);
        m_links << link;
        connect(client, &QTcpSocket::readyRead, this, [this, link] { clientData(link); });
        connect(link->server, &QTcpSocket::readyRead, this, [this, link] { serverData(link); });
        connect(client, &QTcpSocket::disconnected, this, [this, link] { close(link, false); });
        connect(link->server, &QTcpSocket::disconnected, this, [this, link] { close(link, false); });
        connect(link->server, &QTcpSocket::errorOccurred, this, [this, link] { close(link, false); });
        link->server->connectToHost(m_host, quint16(m_serverPort));
        clientData(link);
    }
}

void PgProxy::clientData(Link* link) {
    link->fromClient += link->client->readAll();
    while (const qsizetype length = messageLength(link->fromClient, link->started)) {
        const QByteArray message = link->fromClient.left(length);
        link->fromClient.remove(0, length);
        const bool typed = link->started;
        link->started = true;
        if (link->holdClient)
            continue;
        if (typed && (message.front() == 'Q' || message.front() == 'P'))
            ++m_statements;
        if (typed && !m_holdText.isEmpty() && message.contains(m_holdText)) {
            m_holdText.clear();
            if (m_hold == Hold::BeforeServer) {
                link->holdClient = true;
                emit held();
                continue;
            }
            link->holdServer = true;
        }
        link->server->write(message);
    }
}

void PgProxy::serverData(Link* link) {
    const QByteArray data = link->server->readAll();
    if (!link->holdServer) {
        link->client->write(data);
        return;
    }
    link->heldReply += data;
    qsizetype at = 0;
    while (!link->signalled) {
        const qsizetype length = messageLength(link->heldReply.mid(at), true);
        if (length == 0)
            break;
        if (link->heldReply.at(at) == 'Z') {
            link->signalled = true;
            emit held();
        }
        at += length;
    }
}

void PgProxy::close(Link* link, bool abort) {
    if (!m_links.removeOne(link))
        return;
    link->client->disconnect(this);
    link->server->disconnect(this);
    for (QTcpSocket* socket : {link->client, link->server}) {
        if (abort)
            socket->abort();
        if (socket->state() == QAbstractSocket::UnconnectedState) {
            socket->deleteLater();
        } else {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            socket->disconnectFromHost();
        }
    }
    delete link;
}
