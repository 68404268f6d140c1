#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

// The [Team] section of vesmora.ini, beside [Thresholds]:
//
//     [Team]
//     Database=host=10.1.2.3 port=5432 dbname=vesmora user=field password=...
//     Name=张三
//
// Database is a libpq connection string, keyword/value or URI; sslmode, passfile and the PG*
// environment variables (PGPASSFILE among them) work as libpq defines them. Name says who took
// a reading (default: login name + "@" + computer name). Without a Database value the team path
// is off and nothing of it should run.
class TeamConfig {
public:
    // The longest wait for a server to answer a connection attempt, in seconds: a string that
    // sets none, 0 (wait forever) or more gets this one.
    static constexpr int kConnectTimeoutS = 10;

    // The caller passes Thresholds::iniPath() (the program folder's vesmora.ini).
    static TeamConfig fromIni(const QString& path);
    // An empty name stands for defaultName().
    static TeamConfig fromValues(const QString& database, const QString& name);
    static QString defaultName();

    bool isEnabled() const { return m_enabled; }
    QString name() const { return m_name; }
    // Keyword/value pairs for PQconnectdbParams (expand_dbname 0): the string's own, with
    // connect_timeout bounded, client_encoding UTF8 (the program sends and reads UTF-8), and
    // keepalives that notice a vanished server within a minute unless the string sets them.
    // Empty when the string cannot be parsed.
    const QList<std::pair<QByteArray, QByteArray>>& connectionOptions() const { return m_options; }
    // Why the string cannot be used, in libpq's words with secrets removed; empty when it can.
    QString error() const { return m_error; }
    // The message with every password the string holds, and anything shaped like one
    // (password=..., a URI's user:password@), replaced by "******". Every text that leaves the
    // team path (status, tooltip, log) goes through here.
    QString scrub(const QString& message) const;

private:
    bool m_enabled = false;
    QString m_name;
    QList<std::pair<QByteArray, QByteArray>> m_options;
    QString m_error;
    QStringList m_secrets; // longest first
};
