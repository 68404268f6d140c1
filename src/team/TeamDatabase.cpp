#include "team/TeamDatabase.h"

#include <QHash>
#include <QtEndian>

#include <libpq-fe.h>

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// kSteps[v] takes the tables from version v to v + 1; all the steps due run in one transaction.
const char* const kSteps[] = {
    // Version 1 keyed every reading by a bigserial id and kept (account, taken_at, taken_by)
    // unique beside it.
    R"(CREATE TABLE vesmora_schema (version integer NOT NULL);
       INSERT INTO vesmora_schema VALUES (0);
       CREATE TABLE vesmora_readings (
           id bigserial PRIMARY KEY,
           account text NOT NULL,
           taken_at timestamptz NOT NULL,
           taken_by text NOT NULL,
           ont_rx text, ont_tx text, olt_rx text, olt_tx text);
       CREATE UNIQUE INDEX vesmora_readings_key ON vesmora_readings (account, taken_at, taken_by);
       UPDATE vesmora_schema SET version = 1;)",
    // Nothing looks a reading up by its id, yet at 180 million readings a year the id costs 8
    // bytes a row and an index of its own of about 4 GB. The unique key becomes the primary key;
    // it also serves history by account and time. Dropping a column rewrites nothing.
    R"(ALTER TABLE vesmora_readings DROP COLUMN id;
       ALTER TABLE vesmora_readings ADD CONSTRAINT vesmora_readings_pkey PRIMARY KEY
           USING INDEX vesmora_readings_key;
       UPDATE vesmora_schema SET version = 2;)",
};
static_assert(std::size(kSteps) == TeamDatabase::kSchemaVersion);

// Two programs meeting old tables at the same moment upgrade them one after the other.
const char* const kSchemaLock = "SELECT pg_advisory_xact_lock(7308327739622517345)";

// One statement for the whole batch however large: seven arrays, one element per reading.
const char* const kInsert =
    "INSERT INTO vesmora_readings (account, taken_at, taken_by, ont_rx, ont_tx, olt_rx, olt_tx) "
    "SELECT * FROM unnest($1::text[], $2::timestamptz[], $3::text[], $4::text[], $5::text[], "
    "$6::text[], $7::text[]) "
    "ON CONFLICT DO NOTHING";

// No ORDER BY: a list's history is hundreds of thousands of rows, which the server would sort on
// disk beyond work_mem; the program sorts them by one integer each.
const char* const kHistory = "SELECT account, taken_at, taken_by, ont_rx, ont_tx, olt_rx, olt_tx "
                             "FROM vesmora_readings WHERE account = ANY($1::text[]) AND taken_at >= $2";

// A statement that takes longer gives up, so that a stuck server frees the worker.
const char* const kStatementTimeout = "SET statement_timeout = '60s'";

constexpr qint64 kPostgresEpochMs = 946684800000LL; // 2000-01-01 00:00 UTC, in Unix milliseconds

using ResultPtr = std::unique_ptr<PGresult, decltype(&PQclear)>;

// An array literal: every element quoted (and NUL, which text cannot hold, dropped); an empty
// value is NULL unless the column is part of the key.
void appendElement(QByteArray& array, const QString& text, bool keyColumn) {
    if (array.size() > 1)
        array += ',';
    if (text.isEmpty() && !keyColumn) {
        array += "NULL";
        return;
    }
    array += '"';
    for (const char c : text.toUtf8()) {
        if (c == '\0')
            continue;
        if (c == '"' || c == '\\')
            array += '\\';
        array += c;
    }
    array += '"';
}

QString timeText(const QDateTime& time) {
    return time.toUTC().toString(Qt::ISODateWithMs);
}

// A binary timestamptz: microseconds since 2000-01-01 UTC, big-endian.
qint64 unixMs(const PGresult* result, int row, int column) {
    const qint64 us = qFromBigEndian<qint64>(PQgetvalue(result, row, column));
    return kPostgresEpochMs + (us >= 0 ? us / 1000 : -((-us + 999) / 1000));
}

bool isStatus(const PGresult* result, ExecStatusType status) {
    return result && PQresultStatus(result) == status;
}

} // namespace

TeamDatabase::TeamDatabase(const TeamConfig& config) : m_config(config) {}

TeamDatabase::~TeamDatabase() {
    close();
}

void TeamDatabase::close() {
    if (m_conn)
        PQfinish(m_conn);
    m_conn = nullptr;
}

TeamDatabase::Result TeamDatabase::fail(Outcome outcome, const QString& error) {
    return {outcome, error.trimmed()};
}

// A lost connection is closed, so that the next call connects again. Class 08 (connection
// exception) and 57P01-57P03 (the server shutting down or restarting) come just before the loss;
// class 42 (no such table or column, no rights) says the tables cannot be used as they are.
TeamDatabase::Result TeamDatabase::failed(const PGresult* result) {
    const QString message = QString::fromUtf8(
        result && *PQresultErrorMessage(result) ? PQresultErrorMessage(result) : PQerrorMessage(m_conn));
    const QByteArray state = result ? QByteArray(PQresultErrorField(result, PG_DIAG_SQLSTATE)) : QByteArray();
    if (PQstatus(m_conn) != CONNECTION_OK || state.startsWith("08") || state == "57P01" || state == "57P02" ||
        state == "57P03") {
        close();
        return fail(Outcome::Unreachable, message);
    }
    return fail(state.startsWith("42") ? Outcome::Refused : Outcome::Failed, message);
}

TeamDatabase::Result TeamDatabase::run(const char* sql, QByteArray* value) {
    const ResultPtr result(PQexec(m_conn, sql), PQclear);
    if (value) {
        if (!isStatus(result.get(), PGRES_TUPLES_OK) || PQntuples(result.get()) != 1)
            return failed(result.get());
        *value = PQgetvalue(result.get(), 0, 0);
        return {};
    }
    return isStatus(result.get(), PGRES_COMMAND_OK) || isStatus(result.get(), PGRES_TUPLES_OK)
               ? Result()
               : failed(result.get());
}

TeamDatabase::Result TeamDatabase::open() {
    if (m_conn && PQstatus(m_conn) == CONNECTION_OK)
        return {};
    close();
    if (!m_config.error().isEmpty())
        return {Outcome::Unreachable, m_config.error()};

    std::vector<const char*> keywords;
    std::vector<const char*> values;
    for (const auto& [keyword, value] : m_config.connectionOptions()) {
        keywords.push_back(keyword.constData());
        values.push_back(value.constData());
    }
    keywords.push_back(nullptr);
    values.push_back(nullptr);
    m_conn = PQconnectdbParams(keywords.data(), values.data(), 0);
    if (!m_conn)
        return fail(Outcome::Unreachable, u"内存不足"_s);
    if (PQstatus(m_conn) != CONNECTION_OK) {
        const Result result = fail(Outcome::Unreachable, QString::fromUtf8(PQerrorMessage(m_conn)));
        close();
        return result;
    }
    // libpq prints the server's notices on stderr; the program says nothing there.
    PQsetNoticeProcessor(
        m_conn, [](void*, const char*) {}, nullptr);
    if (const Result timeout = run(kStatementTimeout); !timeout.ok())
        return timeout;
    return ensureSchema();
}

TeamDatabase::Result TeamDatabase::readVersion(int* version) {
    QByteArray exists;
    if (const Result result = run("SELECT to_regclass('vesmora_schema') IS NOT NULL", &exists); !result.ok())
        return result;
    *version = 0;
    if (exists != "t")
        return {};
    QByteArray value;
    if (const Result result = run("SELECT coalesce(max(version), 0) FROM vesmora_schema", &value);
        !result.ok())
        return result;
    *version = value.toInt();
    return {};
}

// Where the role may not create or alter the tables, the program goes on with what is there:
// schemaReady() false and schemaError() say so; only losing the connection fails the open.
TeamDatabase::Result TeamDatabase::ensureSchema() {
    m_schemaReady = false;
    m_schemaError.clear();
    int version = 0;
    Result result = readVersion(&version);
    if (result.ok() && version < kSchemaVersion) {
        result = run("BEGIN");
        if (result.ok())
            result = run(kSchemaLock, nullptr);
        if (result.ok())
            result = readVersion(&version);
        for (int step = version; result.ok() && step < kSchemaVersion; ++step)
            result = run(kSteps[step]);
        if (result.ok())
            result = run("COMMIT");
        if (!result.ok() && m_conn)
            run("ROLLBACK");
    }
    if (result.outcome == Outcome::Unreachable)
        return result;
    m_schemaReady = result.ok();
    m_schemaError = result.error;
    return {};
}

TeamDatabase::Result TeamDatabase::insert(const QList<TeamReading>& readings) {
    std::array<QByteArray, 7> arrays;
    arrays.fill("{");
    int count = 0;
    for (const TeamReading& reading : readings) {
        if (reading.account.isEmpty() || !reading.takenAt.isValid())
            continue;
        appendElement(arrays[0], reading.account, true);
        appendElement(arrays[1], timeText(reading.takenAt), true);
        appendElement(arrays[2], reading.takenBy, true);
        for (size_t i = 0; i < 4; ++i)
            appendElement(arrays[3 + i], reading.values[i], false);
        ++count;
    }
    if (count == 0)
        return {};
    if (const Result opened = open(); !opened.ok())
        return opened;
    const char* params[7];
    for (size_t i = 0; i < arrays.size(); ++i) {
        arrays[i] += '}';
        params[i] = arrays[i].constData();
    }
    const ResultPtr result(PQexecParams(m_conn, kInsert, 7, nullptr, params, nullptr, nullptr, 0), PQclear);
    return isStatus(result.get(), PGRES_COMMAND_OK) ? Result() : failed(result.get());
}

TeamDatabase::Result TeamDatabase::select(const QStringList& accounts, const QDateTime& since,
                                          QList<TeamReading>* readings) {
    readings->clear();
    if (accounts.isEmpty())
        return {};
    if (const Result opened = open(); !opened.ok())
        return opened;
    QByteArray array = "{";
    for (const QString& account : accounts)
        appendElement(array, account, true);
    array += '}';
    const QByteArray from = since.isValid() ? timeText(since).toUtf8() : QByteArray("-infinity");
    const char* params[] = {array.constData(), from.constData()};
    const ResultPtr result(PQexecParams(m_conn, kHistory, 2, nullptr, params, nullptr, nullptr, 1), PQclear);
    if (!isStatus(result.get(), PGRES_TUPLES_OK))
        return failed(result.get());

    const int rows = PQntuples(result.get());
    // Newest first, then as the server sent them.
    std::vector<std::pair<qint64, int>> order(static_cast<size_t>(rows));
    for (int row = 0; row < rows; ++row)
        order[size_t(row)] = {unixMs(result.get(), row, 1), row};
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    // Lines, names and most values repeat across a list's history: each text is made once and
    // shared, so that 200,000 readings do not hold a million strings.
    QHash<QByteArrayView, QString> texts;
    const auto text = [&](int row, int column) -> QString {
        if (PQgetisnull(result.get(), row, column))
            return {};
        const QByteArrayView bytes(PQgetvalue(result.get(), row, column),
                                   PQgetlength(result.get(), row, column));
        auto it = texts.constFind(bytes);
        if (it == texts.constEnd())
            it = texts.insert(bytes, QString::fromUtf8(bytes));
        return *it;
    };
    readings->reserve(rows);
    for (const auto& [ms, row] : order) {
        TeamReading reading;
        reading.account = text(row, 0);
        reading.takenAt = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
        reading.takenBy = text(row, 2);
        for (int i = 0; i < 4; ++i)
            reading.values[size_t(i)] = text(row, 3 + i);
        readings->append(std::move(reading));
    }
    return {};
}
