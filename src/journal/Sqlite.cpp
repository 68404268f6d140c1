#include "journal/Sqlite.h"

#include <sqlite3.h>

#include <utility>

namespace sqlite {

Database::~Database() {
    close();
}

Database::Database(Database&& other) noexcept : m_db(std::exchange(other.m_db, nullptr)) {}

Database& Database::operator=(Database&& other) noexcept {
    if (this != &other) {
        close();
        m_db = std::exchange(other.m_db, nullptr);
    }
    return *this;
}

int Database::open(const QString& path) {
    close();
    // SQLite takes UTF-8 names on every platform and converts them to wide ones on Windows.
    const QByteArray name = path.toUtf8();
    const int code = sqlite3_open_v2(
        name.constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (code != SQLITE_OK)
        close();
    else
        sqlite3_extended_result_codes(m_db, 0);
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

int Database::busyTimeout(int milliseconds) {
    return m_db ? sqlite3_busy_timeout(m_db, milliseconds) : SQLITE_MISUSE;
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

} // namespace sqlite
