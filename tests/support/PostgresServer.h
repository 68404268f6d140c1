#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A real PostgreSQL server for one test program (or benchmark): postgres-server.sh makes a
// cluster in a temporary folder and runs it as an unprivileged user on a free loopback port, as
// this process's child; it is stopped when this object goes, and ends with this process should
// that die first.
//
// When VESMORA_TEST_POSTGRES holds a connection string of a superuser (the Windows lane: its
// programs run under wine, which cannot start the Linux server), that server is used instead;
// it cannot be killed or started from here. Names made here carry a random part, as programs
// run side by side on such a shared server.
class PostgresServer {
public:
    PostgresServer();
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    bool isRunning() const { return !m_host.isEmpty(); }
    // Why the server is not running.
    QString error() const { return m_error; }
    // Whether kill() and start() are possible: the server is this object's own.
    bool isOwn() const { return m_own; }
    QString host() const { return m_host; }
    int port() const { return m_port; }

    // Keyword/value connection string to the database, as the superuser unless a role is given.
    // Through another port (a proxy) when port is not 0. SSL and GSS encryption are off, so
    // that a proxy sees the protocol.
    QString connectionString(const QString& database, const QString& user = QString(),
                             const QString& password = QString(), int port = 0) const;
    // A new empty database or role name, unique on the server.
    QString uniqueName(const QString& prefix);
    QString createDatabase();

    // Runs statements as the superuser; an error is printed and gives false.
    bool exec(const QString& database, const QString& sql);
    // The rows of a query, each row's fields joined by "|", NULL as "<null>"; {"<error>"} on error.
    QStringList query(const QString& database, const QString& sql);

    // Immediate shutdown, which is what a crash leaves: committed work survives it, the rest is
    // rolled back at the next start. Own servers only.
    bool kill();
    // Starts it again on the same port.
    bool start();

private:
    bool launch();
    bool runScript(const QStringList& arguments);

    QTemporaryDir m_dir;
    QProcess m_server;
    QMetaObject::Connection m_drain;
    bool m_own = false;
    QString m_host;
    int m_port = 0;
    QString m_superuser = QStringLiteral("postgres");
    QString m_password;
    QString m_baseConnection; // the given string, for a server not our own
    QString m_error;
    int m_names = 0;
    QString m_tag;
};
