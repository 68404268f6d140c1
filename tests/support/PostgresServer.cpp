#include "PostgresServer.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QTcpServer>

#include <libpq-fe.h>

#include <cstdio>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

constexpr int kStartMs = 60000;

QString quoted(const QString& value) {
    QString text = value;
    text.replace(u"\\"_s, u"\\\\"_s).replace(u"'"_s, u"\\'"_s);
    return u'\'' + text + u'\'';
}

int freePort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}

QString scriptPath() {
    return QStringLiteral(VESMORA_SOURCE_DIR "/tests/support/postgres-server.sh");
}

using Connection = std::unique_ptr<PGconn, decltype(&PQfinish)>;
using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

} // namespace

PostgresServer::PostgresServer() {
    m_tag = QString::number(QRandomGenerator::global()->generate() % 0xFFFFFF, 16);
    const QString given = qEnvironmentVariable("VESMORA_TEST_POSTGRES");
    if (!given.isEmpty()) {
        char* message = nullptr;
        PQconninfoOption* options = PQconninfoParse(given.toUtf8().constData(), &message);
        if (!options) {
            m_error = u"VESMORA_TEST_POSTGRES: "_s + QString::fromUtf8(message);
            PQfreemem(message);
            return;
        }
        QString host = u"127.0.0.1"_s;
        m_port = 5432;
        for (const PQconninfoOption* it = options; it->keyword; ++it) {
            const QString value = QString::fromUtf8(it->val);
            if (!it->val)
                continue;
            if (qstrcmp(it->keyword, "host") == 0)
                host = value;
            else if (qstrcmp(it->keyword, "port") == 0)
                m_port = value.toInt();
            else if (qstrcmp(it->keyword, "user") == 0)
                m_superuser = value;
            else if (qstrcmp(it->keyword, "password") == 0)
                m_password = value;
        }
        PQconninfoFree(options);
        m_host = host;
        if (query(u"postgres"_s, u"SELECT 1"_s) != QStringList{u"1"_s}) {
            m_error = u"the server of VESMORA_TEST_POSTGRES does not answer"_s;
            m_host.clear();
        }
        return;
    }
#ifdef Q_OS_WIN
    m_error = u"no PostgreSQL server: set VESMORA_TEST_POSTGRES to a superuser's connection string"_s;
#else
    m_own = true;
    if (!m_dir.isValid()) {
        m_error = u"no temporary folder"_s;
        return;
    }
    m_password = u"pw-"_s + QString::number(QRandomGenerator::global()->generate64(), 36);
    QFile password(m_dir.filePath(u"password"_s));
    if (!password.open(QIODevice::WriteOnly) || password.write(m_password.toUtf8() + '\n') <= 0) {
        m_error = u"cannot write the password file"_s;
        return;
    }
    password.close();
    if (!runScript({u"init"_s, m_dir.path()}))
        return;
    // Another program may take the port between the probe and the server's bind: try another.
    for (int attempt = 0; attempt < 5 && !isRunning(); ++attempt) {
        m_port = freePort();
        if (!launch() && !m_error.contains(u"could not bind"_s))
            break;
    }
#endif
}

PostgresServer::~PostgresServer() {
    if (!m_own || m_server.state() == QProcess::NotRunning)
        return;
    runScript({u"stop"_s, m_dir.path(), u"fast"_s});
    if (!m_server.waitForFinished(30000))
        m_server.kill();
    m_server.waitForFinished();
}

bool PostgresServer::runScript(const QStringList& arguments) {
    QProcess script;
    script.setProcessChannelMode(QProcess::MergedChannels);
    script.start(u"bash"_s, QStringList{scriptPath()} + arguments);
    if (!script.waitForFinished(kStartMs) || script.exitStatus() != QProcess::NormalExit ||
        script.exitCode() != 0) {
        m_error = u"postgres-server.sh %1 failed: %2"_s.arg(arguments.value(0),
                                                            QString::fromUtf8(script.readAll()));
        std::fprintf(stderr, "%s\n", qPrintable(m_error));
        return false;
    }
    return true;
}

bool PostgresServer::launch() {
    m_host.clear();
    QObject::disconnect(m_drain);
    m_server.setProcessChannelMode(QProcess::MergedChannels);
    m_server.start(u"bash"_s, {scriptPath(), u"run"_s, m_dir.path(), QString::number(m_port)});
    QByteArray output;
    const QDeadlineTimer deadline(kStartMs);
    while (!output.contains("ready to accept connections")) {
        if (!m_server.waitForReadyRead(int(deadline.remainingTime()))) {
            output += m_server.readAll();
            m_error = u"the server did not start: "_s + QString::fromUtf8(output);
            std::fprintf(stderr, "%s\n", qPrintable(m_error));
            m_server.kill();
            m_server.waitForFinished();
            return false;
        }
        output += m_server.readAll();
    }
    // Its log is not needed; read so that the pipe never fills.
    m_drain = QObject::connect(&m_server, &QProcess::readyRead, &m_server, [this] { m_server.readAll(); });
    m_host = u"127.0.0.1"_s;
    m_error.clear();
    return true;
}

QString PostgresServer::connectionString(const QString& database, const QString& user,
                                         const QString& password, int port) const {
    return u"host=%1 port=%2 dbname=%3 user=%4 password=%5 sslmode=disable gssencmode=disable"_s.arg(
        m_host, QString::number(port ? port : m_port), quoted(database),
        quoted(user.isEmpty() ? m_superuser : user), quoted(user.isEmpty() ? m_password : password));
}

QString PostgresServer::uniqueName(const QString& prefix) {
    return u"%1_%2_%3"_s.arg(prefix, m_tag).arg(++m_names);
}

QString PostgresServer::createDatabase() {
    const QString name = uniqueName(u"db"_s);
    return exec(u"postgres"_s, u"CREATE DATABASE "_s + name) ? name : QString();
}

bool PostgresServer::exec(const QString& database, const QString& sql) {
    return query(database, sql) != QStringList{u"<error>"_s};
}

QStringList PostgresServer::query(const QString& database, const QString& sql) {
    const Connection connection(PQconnectdb(connectionString(database).toUtf8().constData()), PQfinish);
    if (PQstatus(connection.get()) != CONNECTION_OK) {
        std::fprintf(stderr, "cannot connect to the test server: %s\n", PQerrorMessage(connection.get()));
        return {u"<error>"_s};
    }
    const Result result(PQexec(connection.get(), sql.toUtf8().constData()), PQclear);
    const ExecStatusType status = PQresultStatus(result.get());
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(sql), PQresultErrorMessage(result.get()));
        return {u"<error>"_s};
    }
    QStringList rows;
    for (int row = 0; row < PQntuples(result.get()); ++row) {
        QStringList fields;
        for (int column = 0; column < PQnfields(result.get()); ++column)
            fields << (PQgetisnull(result.get(), row, column)
                           ? u"<null>"_s
                           : QString::fromUtf8(PQgetvalue(result.get(), row, column)));
        rows << fields.join(u'|');
    }
    return rows;
}

bool PostgresServer::kill() {
    if (!m_own || !runScript({u"stop"_s, m_dir.path(), u"immediate"_s}))
        return false;
    m_server.waitForFinished(30000);
    m_host.clear();
    return true;
}

bool PostgresServer::start() {
    return m_own && launch();
}
