#pragma once

#include "team/TeamConfig.h"
#include "team/TeamReading.h"

#include <QList>
#include <QStringList>

struct pg_conn;
struct pg_result;

// One libpq connection to the team database, used from one thread. Every call blocks until the
// server answers or gives up (connect_timeout, keepalives, a statement timeout), so TeamStore
// runs it on its own worker thread, never on the window's.
//
// The tables (only the program writes them; README.md has the SQL and the rights a DBA grants):
//   vesmora_schema(version)  one row: the version the tables are at
//   vesmora_readings(account, taken_at, taken_by, ont_rx, ont_tx, olt_rx, olt_tx), primary key
//       (account, taken_at, taken_by): a reading delivered twice is stored once, and the key
//       serves history by account and time.
class TeamDatabase {
public:
    static constexpr int kSchemaVersion = 2;

    enum class Outcome {
        Ok,
        Unreachable, // no connection, or it was lost: try again later
        Refused,     // the tables are not there, or the role may not use them
        Failed,      // any other error of the statement
    };
    struct Result {
        Outcome outcome = Outcome::Ok;
        // libpq's or the server's words, as they are: TeamStore scrubs them on its own thread,
        // as QRegularExpression's per-thread JIT stack crashes a mingw build's worker at its end.
        QString error;
        bool ok() const { return outcome == Outcome::Ok; }
    };

    explicit TeamDatabase(const TeamConfig& config);
    ~TeamDatabase();
    TeamDatabase(const TeamDatabase&) = delete;
    TeamDatabase& operator=(const TeamDatabase&) = delete;

    // Connects when not connected. A new connection brings the tables to kSchemaVersion in one
    // transaction, when the role may; schemaReady() says whether they are there and current
    // (or newer), schemaError() why not. Not reaching the server is the only failure.
    Result open();
    bool schemaReady() const { return m_schemaReady; }
    QString schemaError() const { return m_schemaError; }

    // One statement, so one transaction: either every reading is stored or none. A reading
    // already there (same account, time and name) is left as it is. Readings without an account
    // or a valid time cannot be keyed and are left out.
    Result insert(const QList<TeamReading>& readings);
    // The readings of these accounts taken since then (all when invalid), in one query however
    // long the list; newest first.
    Result select(const QStringList& accounts, const QDateTime& since, QList<TeamReading>* readings);

private:
    Result fail(Outcome outcome, const QString& error);
    // What a statement's failure means; a lost connection is closed.
    Result failed(const pg_result* result);
    // Runs SQL that returns no rows, or one value into *value.
    Result run(const char* sql, QByteArray* value = nullptr);
    Result ensureSchema();
    Result readVersion(int* version);
    void close();

    TeamConfig m_config;
    pg_conn* m_conn = nullptr;
    bool m_schemaReady = false;
    QString m_schemaError;
};
