// What the run journal costs: per finished row, at start-up with a million readings stored, for
// one account's history and for a restore. Prints figures only.
#include "journal/ReadingStore.h"
#include "journal/RunJournal.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <functional>

using namespace Qt::StringLiterals;

namespace {

constexpr int kAccounts = 50000;
constexpr int kRunSize = 10000;
constexpr int kRuns = 100; // kRuns x kRunSize readings

QString account(int i) {
    return u"2091%1"_s.arg(i, 7, 10, QLatin1Char('0'));
}

QStringList cells(int i) {
    return {account(i),
            u"光猫在线"_s,
            u"-%1.%2"_s.arg(17 + i % 9).arg(i % 100, 2, 10, QLatin1Char('0')),
            u"2.1%1"_s.arg(i % 10),
            u"-%1.%2"_s.arg(18 + i % 7).arg(i % 97, 2, 10, QLatin1Char('0')),
            u"3.%1"_s.arg(i % 10),
            u"华为EMS-东区"_s,
            u"10.12.%1.%2"_s.arg(i % 250).arg(i % 200),
            u"0/%1/%2"_s.arg(i % 16).arg(i % 8),
            u"00%1"_s.arg(i, 9, 10, QLatin1Char('0')),
            u"幸福小区%1栋-1:8分光器-%2"_s.arg(i % 40).arg(i % 8)};
}

double medianMs(QList<qint64> nanoseconds) {
    std::sort(nanoseconds.begin(), nanoseconds.end());
    return nanoseconds.isEmpty() ? 0 : double(nanoseconds[nanoseconds.size() / 2]) / 1e6;
}

double percentileMs(QList<qint64> nanoseconds, double p) {
    std::sort(nanoseconds.begin(), nanoseconds.end());
    return nanoseconds.isEmpty() ? 0
                                 : double(nanoseconds[qsizetype(double(nanoseconds.size() - 1) * p)]) / 1e6;
}

QList<qint64> timed(int times, const std::function<void(int)>& work) {
    QList<qint64> samples;
    QElapsedTimer timer;
    for (int i = 0; i < times; ++i) {
        timer.start();
        work(i);
        samples << timer.nsecsElapsed();
    }
    return samples;
}

qint64 fileBytes(const QString& path) {
    return QFileInfo(path).size() + QFileInfo(path + u"-wal"_s).size();
}

// Runs of kRunSize rows over kAccounts lines, one a day, finished, as years of use leave them:
// readings for all, rows (cells) for the newest runs only, as the journal keeps them.
bool fill(const QString& path) {
    { RunJournal create(path); }
    sqlite3* db = nullptr;
    if (sqlite3_open(path.toUtf8().constData(), &db) != SQLITE_OK)
        return false;
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt *run, *reading, *row;
    sqlite3_prepare_v2(db, "INSERT INTO runs VALUES(?, ?, 30, ?, 2, ?)", -1, &run, nullptr);
    sqlite3_prepare_v2(db,
                       "INSERT INTO readings(account, taken_at, run_id, position, ont_rx, ont_tx, olt_rx, "
                       "olt_tx) VALUES(?, ?, ?, ?, ?, ?, ?, ?)",
                       -1, &reading, nullptr);
    sqlite3_prepare_v2(db, "INSERT INTO run_rows VALUES(?, ?, ?, NULL, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)", -1,
                       &row, nullptr);
    const qint64 firstDay = QDateTime(QDate(2024, 1, 1), QTime(8, 0)).toMSecsSinceEpoch();
    for (int r = 1; r <= kRuns; ++r) {
        const qint64 start = firstDay + qint64(r) * 86400000;
        sqlite3_bind_int64(run, 1, r);
        sqlite3_bind_int64(run, 2, start);
        sqlite3_bind_int64(run, 3, kRunSize);
        sqlite3_bind_int64(run, 4, start + kRunSize * 2000LL);
        sqlite3_step(run);
        sqlite3_reset(run);
        const int first = (r * kRunSize) % kAccounts;
        for (int p = 0; p < kRunSize; ++p) {
            const QStringList c = cells(first + p);
            QList<QByteArray> utf8;
            for (const QString& cell : c)
                utf8 << cell.toUtf8();
            const qint64 at = start + p * 2000LL;
            sqlite3_bind_text(reading, 1, utf8[0].constData(), int(utf8[0].size()), SQLITE_STATIC);
            sqlite3_bind_int64(reading, 2, at);
            sqlite3_bind_int64(reading, 3, r);
            sqlite3_bind_int64(reading, 4, p);
            for (int v = 0; v < 4; ++v)
                sqlite3_bind_text(reading, 5 + v, utf8[2 + v].constData(), int(utf8[2 + v].size()),
                                  SQLITE_STATIC);
            sqlite3_step(reading);
            sqlite3_reset(reading);
            if (r > kRuns - RunJournal::kRunsWithRows) {
                sqlite3_bind_int64(row, 1, r);
                sqlite3_bind_int64(row, 2, p);
                sqlite3_bind_int64(row, 3, at);
                for (int v = 0; v < 11; ++v)
                    sqlite3_bind_text(row, 4 + v, utf8[v].constData(), int(utf8[v].size()), SQLITE_STATIC);
                sqlite3_step(row);
                sqlite3_reset(row);
            }
        }
    }
    sqlite3_finalize(run);
    sqlite3_finalize(reading);
    sqlite3_finalize(row);
    const bool ok = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    std::printf("bench_journal\n");

    // Per finished row, through the journal as a run uses it.
    {
        RunJournal journal(dir.filePath(u"rows/journal.sqlite"_s));
        QStringList accounts;
        for (int i = 0; i < 2000; ++i)
            accounts << account(i);
        const qint64 run = journal.startRun(accounts, 30, QDateTime::currentDateTime());
        const QDateTime now = QDateTime::currentDateTime();
        const auto rows =
            timed(2000, [&](int i) { journal.recordRow(run, i, cells(i), QString(), now.addSecs(i)); });
        // The same rows again, each reading also queued for the team's database.
        journal.readings()->setQueueing(true);
        const auto queued =
            timed(2000, [&](int i) { journal.recordRow(run, i, cells(i), QString(), now.addSecs(i)); });
        journal.readings()->setQueueing(false);
        const auto flushed = timed(20, [&](int i) {
            journal.recordRow(run, i, cells(i), QString(), now);
            journal.flush();
        });
        std::printf("  per finished row (one transaction): median %.3f ms, 95th percentile %.3f ms\n",
                    medianMs(rows), percentileMs(rows, 0.95));
        std::printf("  per finished row with its reading queued for the team: median %.3f ms (+%.3f ms), "
                    "95th percentile %.3f ms\n",
                    medianMs(queued), medianMs(queued) - medianMs(rows), percentileMs(queued, 0.95));
        std::printf("  one row + the flush to disk (once a second at most): median %.3f ms\n",
                    medianMs(flushed));
    }

    // Start-up: open and look for an unfinished run, empty journal against a million readings.
    const QString empty = dir.filePath(u"empty/journal.sqlite"_s);
    const QString full = dir.filePath(u"full/journal.sqlite"_s);
    { RunJournal create(empty); }
    QElapsedTimer fillTime;
    fillTime.start();
    if (!fill(full)) {
        std::fprintf(stderr, "could not fill the journal\n");
        return 1;
    }
    std::printf("  filled %d readings (%d runs, rows kept for %d) in %.1f s\n", kRuns * kRunSize, kRuns,
                RunJournal::kRunsWithRows, double(fillTime.elapsed()) / 1000);
    const auto openEmpty = timed(15, [&](int) { RunJournal(empty).claimUnfinished(); });
    const auto openFull = timed(15, [&](int) { RunJournal(full).claimUnfinished(); });
    std::printf("  open + look for an unfinished run: empty %.2f ms, %d readings %.2f ms\n",
                medianMs(openEmpty), kRuns * kRunSize, medianMs(openFull));

    {
        RunJournal journal(full);
        const auto history = timed(500, [&](int i) { journal.history(account((i * 7919) % kAccounts)); });
        std::printf("  one account's history (%d readings): median %.3f ms, 95th percentile %.3f ms\n",
                    int(journal.history(account(123)).size()), medianMs(history),
                    percentileMs(history, 0.95));
        const QDateTime late(QDate(2030, 1, 1), QTime(0, 0));
        const auto previous =
            timed(500, [&](int i) { journal.previousReading(account((i * 7919) % kAccounts), late); });
        std::printf("  previous reading of an account: median %.3f ms\n", medianMs(previous));
        QStringList list;
        for (int i = 0; i < 10000; ++i)
            list << account(i * 5);
        QElapsedTimer exportTime;
        exportTime.start();
        const auto readings = journal.readingsOf(list);
        std::printf("  readings of a 10,000-account list for export: %d in %.0f ms\n", int(readings.size()),
                    double(exportTime.nsecsElapsed()) / 1e6);

        // A 10,000-row run left half done: what restoring it costs the journal.
        QStringList accounts;
        for (int i = 0; i < 10000; ++i)
            accounts << account(i);
        {
            RunJournal crashed(full);
            const qint64 run = crashed.startRun(accounts, 30, QDateTime::currentDateTime());
            for (int i = 0; i < 5000; ++i)
                crashed.recordRow(run, i, cells(i), QString(), QDateTime::currentDateTime());
        }
        QElapsedTimer restore;
        restore.start();
        RunJournal next(full);
        const auto unfinished = next.claimUnfinished();
        const auto restored = unfinished ? next.loadRun(unfinished->id) : std::nullopt;
        std::printf("  restore of a 10,000-row run with %d rows done: open, claim and load in %.0f ms\n",
                    restored ? int(restored->rows.size()) : -1, double(restore.nsecsElapsed()) / 1e6);
    }
    std::printf("  file size with %d readings: %.1f MB\n", kRuns * kRunSize, double(fileBytes(full)) / 1e6);
    return 0;
}
