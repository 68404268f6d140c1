#include "journal/Sqlite.h"

#include <sqlite3.h>

#include <algorithm>
#include <iterator>
#include <utility>

namespace sqlite {

namespace {
std::function<void()> g_busyObserver;
}

void setBusyObserver(std::function<void()> observer) {
    g_busyObserver = std::move(observer);
}

void notifyBusyObserver() {
    if (g_busyObserver)
        g_busyObserver();
}

Database::~Database() {
    close();
}

Database::Database(Database&& other) noexcept
    : m_db(std::exchange(other.m_db, nullptr)), m_busyMs(other.m_busyMs) {
    if (m_db && m_busyMs > 0)
        sqlite3_busy_handler(m_db, &Database::busyHandler, this); // the handler knows its object
}

Database& Database::operator=(Database&& other) noexcept {
    if (this != &other) {
        close();
        m_db = std::exchange(other.m_db, nullptr);
        m_busyMs = other.m_busyMs;
        if (m_db && m_busyMs > 0)
            sqlite3_busy_handler(m_db, &Database::busyHandler, this);
    }
    return *this;
}

int Database::open(const QString& path) {
    close();
    // SQLite takes UTF-8 names on every platform and converts them to wide ones on Windows.
    const QByteArray name = path.toUtf8();
    const int code = sqlite3_open_v2(
        name.constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (code != SQLITE_OK) {
        close();
        return code;
    }
    sqlite3_extended_result_codes(m_db, 0);
    waitWhenBusy(m_busyMs);
    return code;
}

void Database::close() {
    if (m_db) {
        // Statements are owned by their RAII objects and gone by now; _v2 waits for any that are not.
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

int Database::exec(const char* sql) {
    return m_db ? sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) : SQLITE_MISUSE;
}

std::optional<qint64> Database::integer(const char* sql) {
    Statement statement(*this, sql);
    if (statement.step() != SQLITE_ROW)
        return std::nullopt;
    return statement.integer(0);
}

void Database::waitWhenBusy(int milliseconds) {
    m_busyMs = milliseconds;
    if (m_db)
        sqlite3_busy_handler(m_db, milliseconds > 0 ? &Database::busyHandler : nullptr, this);
}

// SQLite's own busy timeout, with a word to the observer: short pauses first, as a writer usually
// holds the file for a few milliseconds.
int Database::busyHandler(void* database, int count) {
    static constexpr int kPauses[] = {1, 2, 5, 10, 15, 20, 25, 25, 25, 50, 50, 100};
    static constexpr int kLast = int(std::size(kPauses)) - 1;
    if (count == 0)
        notifyBusyObserver();
    int waited = 0;
    for (int i = 0; i < std::min(count, kLast); ++i)
        waited += kPauses[i];
    if (count > kLast)
        waited += (count - kLast) * kPauses[kLast];
    const int limit = static_cast<Database*>(database)->m_busyMs;
    if (waited >= limit)
        return 0;
    sqlite3_sleep(std::min(kPauses[std::min(count, kLast)], limit - waited));
    return 1;
}

int Database::lastCode() const {
    return m_db ? sqlite3_errcode(m_db) : SQLITE_CANTOPEN;
}

QString Database::lastMessage() const {
    return m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString();
}

qint64 Database::lastInsertId() const {
    return m_db ? sqlite3_last_insert_rowid(m_db) : 0;
}

Statement::Statement(Database& db, const char* sql) {
    m_prepareCode = db.handle() ? sqlite3_prepare_v2(db.handle(), sql, -1, &m_stmt, nullptr) : SQLITE_MISUSE;
    m_code = m_prepareCode;
    if (m_prepareCode != SQLITE_OK) {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
    }
}

Statement::~Statement() {
    sqlite3_finalize(m_stmt);
}

Statement& Statement::bind(int index, qint64 value) {
    if (m_stmt)
        sqlite3_bind_int64(m_stmt, index, value);
    return *this;
}

Statement& Statement::bind(int index, const QString& text) {
    if (!m_stmt)
        return *this;
    if (text.isNull())
        return bindNull(index);
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(m_stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::bindNull(int index) {
    if (m_stmt)
        sqlite3_bind_null(m_stmt, index);
    return *this;
}

int Statement::step() {
    if (!m_stmt)
        return m_code;
    m_code = sqlite3_step(m_stmt);
    return m_code;
}

void Statement::reset() {
    if (m_stmt) {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }
}

qint64 Statement::integer(int column) const {
    return m_stmt ? sqlite3_column_int64(m_stmt, column) : 0;
}

QString Statement::text(int column) const {
    if (!m_stmt || sqlite3_column_type(m_stmt, column) == SQLITE_NULL)
        return QString();
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    const QString value = QString::fromUtf8(bytes, sqlite3_column_bytes(m_stmt, column));
    // An empty text is not NULL: keep it distinguishable.
    return value.isNull() ? QStringLiteral("") : value;
}

bool Statement::isNull(int column) const {
    return !m_stmt || sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

Transaction::Transaction(Database& db)
    : m_db(db), m_beginCode(db.exec("BEGIN IMMEDIATE")), m_open(m_beginCode == SQLITE_OK) {}

Transaction::~Transaction() {
    if (m_open)
        m_db.exec("ROLLBACK");
}

int Transaction::commit() {
    if (!m_open)
        return m_beginCode;
    const int code = m_db.exec("COMMIT");
    if (code == SQLITE_OK)
        m_open = false;
    return code;
}

bool isDamage(int code) {
    const int primary = code & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB || primary == SQLITE_FORMAT;
}

bool isError(int code) {
    return code != SQLITE_OK && code != SQLITE_ROW && code != SQLITE_DONE;
}

int done(int code) {
    return code == SQLITE_DONE ? SQLITE_OK : code;
}

} // namespace sqlite
