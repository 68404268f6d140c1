#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

struct sqlite3;
struct sqlite3_stmt;

// A thin owner of SQLite's C handles. Every call reports SQLite's result code; nothing throws.
namespace sqlite {

class Statement;

class Database {
public:
    Database() = default;
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    Database(Database&& other) noexcept;
    Database& operator=(Database&& other) noexcept;

    // Opens (creating when missing) the file at path, or a private in-memory database for
    // ":memory:". Returns SQLite's result code; on failure the handle is closed again.
    int open(const QString& path);
    void close();
    bool isOpen() const { return m_db != nullptr; }

    // Runs one or more statements that return no rows.
    int exec(const char* sql);
    // The first column of the first row of a one-value query, or nothing.
    std::optional<qint64> integer(const char* sql);
    // While another connection holds the file, SQLite waits up to this long (with growing pauses)
    // before it reports SQLITE_BUSY.
    void waitWhenBusy(int milliseconds);

    int lastCode() const;
    QString lastMessage() const;
    qint64 lastInsertId() const;
    sqlite3* handle() const { return m_db; }

private:
    static int busyHandler(void* database, int count);

    sqlite3* m_db = nullptr;
    int m_busyMs = 0;
};

// Told at the start of every wait for a file another connection holds, on the waiting thread: a
// test's way to act while a connection waits (let go of a lock, tell another process). Empty by
// default.
void setBusyObserver(std::function<void()> observer);
void notifyBusyObserver();

class Statement {
public:
    Statement(Database& db, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool isValid() const { return m_stmt != nullptr; }
    int prepareCode() const { return m_prepareCode; }

    // Parameters count from 1, as in SQLite.
    Statement& bind(int index, qint64 value);
    Statement& bind(int index, const QString& text); // a null QString binds NULL
    Statement& bindNull(int index);

    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step();
    // Clears the bindings and makes the statement ready to run again.
    void reset();

    qint64 integer(int column) const;
    QString text(int column) const; // NULL reads as a null QString
    bool isNull(int column) const;

    // The result of the last step() or prepare failure, for error paths.
    int code() const { return m_code; }

private:
    sqlite3_stmt* m_stmt = nullptr;
    int m_prepareCode = 0;
    int m_code = 0;
};

// BEGIN IMMEDIATE on construction; ROLLBACK on destruction unless commit() succeeded.
class Transaction {
public:
    explicit Transaction(Database& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    int beginCode() const { return m_beginCode; }
    int commit();

private:
    Database& m_db;
    int m_beginCode;
    bool m_open;
};

// Whether a result code says the file itself cannot be trusted (as opposed to busy or full).
bool isDamage(int code);
// Neither SQLITE_OK nor a step's SQLITE_ROW or SQLITE_DONE.
bool isError(int code);
// A step's SQLITE_DONE as SQLITE_OK: what a write's statements give back.
int done(int code);

} // namespace sqlite
