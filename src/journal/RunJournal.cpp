#include "journal/RunJournal.h"

#include "journal/JournalFile.h"
#include "journal/ReadingStore.h"
#include "journal/RunLedger.h"
#include "journal/Sqlite.h"

#include <QStandardPaths>

#include <sqlite3.h>

using namespace Qt::StringLiterals;
using journal::Reading;
using journal::StoredRow;

static_assert(RunJournal::kRunsWithRows == RunLedger::kRunsWithRows);

RunJournal::RunJournal(const QString& path, QObject* parent)
    : QObject(parent), m_file(std::make_unique<JournalFile>(path)),
      m_ledger(std::make_unique<RunLedger>(m_file.get())),
      m_readings(std::make_unique<ReadingStore>(m_file.get())) {
    connect(m_file.get(), &JournalFile::noticeRaised, this, &RunJournal::noticeRaised);
}

// The waiting writes hold the ledger's address.
RunJournal::~RunJournal() {
    m_file->close();
}

QString RunJournal::defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) + u"/journal.sqlite"_s;
}

bool RunJournal::writeVersion1(const QString& path, const QStringList& accounts, int rate,
                               const QDateTime& startedAt, const QList<StoredRow>& rows) {
    sqlite::Database db;
    if (db.open(path) != SQLITE_OK || JournalFile::migrate(db, 0, 1) != SQLITE_OK)
        return false;
    sqlite::Statement run(db, "INSERT INTO runs(started_at, rate, total) VALUES(?, ?, ?)");
    if (run.bind(1, startedAt.toMSecsSinceEpoch()).bind(2, rate).bind(3, accounts.size()).step() !=
        SQLITE_DONE)
        return false;
    const qint64 id = db.lastInsertId();
    sqlite::Statement account(db, "INSERT INTO run_accounts VALUES(?, ?, ?)");
    for (int i = 0; i < accounts.size(); ++i) {
        if (account.bind(1, id).bind(2, i).bind(3, accounts[i]).step() != SQLITE_DONE)
            return false;
        account.reset();
    }
    for (const StoredRow& stored : rows)
        if (RunLedger::writeRow(db, id, stored.position, stored.cells, stored.failure, stored.finishedAt) !=
            SQLITE_OK)
            return false;
    return true;
}

QString RunJournal::path() const {
    return m_file->path();
}

bool RunJournal::isPersistent() const {
    return m_file->isPersistent();
}

QString RunJournal::takeNotice() {
    return m_file->takeNotice();
}

qint64 RunJournal::startRun(const QStringList& accounts, int rate, const QDateTime& startedAt) {
    return m_ledger->startRun(accounts, rate, startedAt);
}

void RunJournal::recordRow(qint64 run, int position, const QStringList& cells, const QString& failure,
                           const QDateTime& finishedAt) {
    m_file->write(
        [this, run, position, cells, failure, finishedAt](sqlite::Database& db) {
            const qint64 id = m_ledger->idOf(run);
            if (id == 0)
                return SQLITE_OK; // its run never reached any journal
            if (const int code = RunLedger::writeRow(db, id, position, cells, failure, finishedAt);
                code != SQLITE_OK)
                return code;
            return m_readings->write(db, id, position, cells, finishedAt);
        },
        [this] { emit rowRecorded(); });
}

void RunJournal::endRun(qint64 run, journal::RunState state) {
    m_ledger->endRun(run, state);
}

bool RunJournal::reopenRun(qint64 run) {
    return m_ledger->reopenRun(run);
}

std::optional<journal::UnfinishedRun> RunJournal::claimUnfinished() {
    return m_ledger->claimUnfinished();
}

std::optional<journal::RestoredRun> RunJournal::loadRun(qint64 run) {
    return m_ledger->loadRun(run);
}

void RunJournal::recordRowStart(const QDateTime& at) {
    m_ledger->recordRowStart(at);
}

QList<QDateTime> RunJournal::rowStartsSince(const QDateTime& since) {
    return m_ledger->rowStartsSince(since);
}

void RunJournal::flush() {
    m_file->flush();
}

std::optional<Reading> RunJournal::previousReading(const QString& account, const QDateTime& before) {
    return m_readings->previousReading(account, before);
}

std::optional<Reading> RunJournal::latestReading(const QString& account) {
    return m_readings->latestReading(account);
}

QList<Reading> RunJournal::history(const QString& account) {
    return m_readings->readingsOf({account});
}

QList<Reading> RunJournal::readingsOf(const QStringList& accounts) {
    return m_readings->readingsOf(accounts);
}
