#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpServer>

class QTcpSocket;

// A TCP proxy on loopback in front of a PostgreSQL server, for what a test cannot ask of the
// server itself: to be down (refusing as a stopped server does), to count the statements a
// client sends, and to stop a conversation at an exact point of a statement. It reads the
// protocol only as far as message boundaries, so the client must not use SSL or GSS encryption
// (PostgresServer's strings turn both off).
class PgProxy : public QObject {
    Q_OBJECT

public:
    enum class Hold {
        BeforeServer, // the statement never reaches the server
        BeforeClient, // the server runs it, and its answer is kept from the client
    };
    Q_ENUM(Hold)

    PgProxy(const QString& host, int port);
    // Its sockets would otherwise report their end to a half-destroyed proxy.
    ~PgProxy() override { cut(); }
    int port() const { return m_listener.serverPort(); }

    // While down, connections are closed as soon as they come, and those open are cut.
    void setDown(bool down);
    // Statements (simple queries and parses) clients sent.
    int statements() const { return m_statements; }
    void resetStatements() { m_statements = 0; }
    // The next client message that holds this text is held as chosen; held() follows once it
    // is (BeforeServer), or once the server's answer, through its ReadyForQuery, has arrived
    // (BeforeClient). The connection stays stopped there until cut().
    void holdAt(const QByteArray& text, Hold hold);
    // Aborts every connection, and what was held with it.
    void cut();

signals:
    void held();

private:
    struct Link {
        QTcpSocket* client = nullptr;
        QTcpSocket* server = nullptr;
        QByteArray fromClient; // not yet a whole message
        bool started = false;  // the startup message, which has no type byte, is through
        bool holdClient = false;
        bool holdServer = false;
        QByteArray heldReply;
        bool signalled = false;
    };

    void accept();
    void clientData(Link* link);
    void serverData(Link* link);
    // Abort drops what is not yet sent; otherwise it goes out first, as when a peer hangs up.
    void close(Link* link, bool abort);

    QString m_host;
    int m_serverPort;
    QTcpServer m_listener;
    QList<Link*> m_links;
    bool m_down = false;
    int m_statements = 0;
    QByteArray m_holdText;
    Hold m_hold = Hold::BeforeServer;
};
