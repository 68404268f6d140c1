// What the team database costs: delivering 10,000 queued readings, and with 1,000,000 readings
// from 20 names stored, the team history of a 10,000-account list and of one account. Starts its
// own throwaway server (tests/support). Prints figures only.
#include "MemoryOutbox.h"
#include "PostgresServer.h"
#include "team/TeamMerge.h"
#include "team/TeamStore.h"
#include "team/TeamSync.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <libpq-fe.h>

#include <algorithm>
#include <cstdio>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

constexpr int kAccounts = 50000;
constexpr int kNames = 20; // kAccounts x kNames readings
constexpr int kQueued = 10000;
constexpr int kListSize = 10000;
const QDateTime kFirst(QDate(2024, 1, 1), QTime(8, 0), Qt::UTC);

QString account(int i) {
    return u"2091%1"_s.arg(i, 7, 10, QLatin1Char('0'));
}

QString name(int n) {
    return u"测试员%1@PC-%1"_s.arg(n, 2, 10, QLatin1Char('0'));
}

TeamReading reading(int i, int n, qint64 seconds) {
    TeamReading r;
    r.account = account(i);
    r.takenAt = kFirst.addSecs(seconds);
    r.takenBy = name(n);
    r.values = {u"-%1.%2"_s.arg(17 + i % 9).arg(i % 100, 2, 10, QLatin1Char('0')), u"2.1%1"_s.arg(i % 10),
                u"-%1.%2"_s.arg(18 + i % 7).arg(i % 97, 2, 10, QLatin1Char('0')), u"3.%1"_s.arg(i % 10)};
    return r;
}

// Runs the event loop until the sender's signal comes.
template <typename Signal>
void waitFor(const typename QtPrivate::FunctionPointer<Signal>::Object* sender, Signal signal) {
    QEventLoop loop;
    QObject::connect(sender, signal, &loop, &QEventLoop::quit);
    loop.exec();
}

double medianMs(QList<qint64> nanoseconds) {
    std::sort(nanoseconds.begin(), nanoseconds.end());
    return nanoseconds.isEmpty() ? 0 : double(nanoseconds[nanoseconds.size() / 2]) / 1e6;
}

// A day a name: each name has read every line once, as twenty PCs over a few weeks would.
bool fill(const QString& connection) {
    const std::unique_ptr<PGconn, decltype(&PQfinish)> db(PQconnectdb(connection.toUtf8().constData()),
                                                          PQfinish);
    PGresult* copy = PQexec(db.get(), "COPY vesmora_readings FROM STDIN");
    const bool started = PQresultStatus(copy) == PGRES_COPY_IN;
    PQclear(copy);
    if (!started)
        return false;
    QByteArray chunk;
    for (int n = 0; n < kNames; ++n) {
        for (int i = 0; i < kAccounts; ++i) {
            const TeamReading r = reading(i, n, qint64(n) * 86400 + i);
            chunk += (QStringList{r.account, r.takenAt.toString(Qt::ISODateWithMs), r.takenBy} +
                      QStringList(r.values.begin(), r.values.end()))
                         .join(u'\t')
                         .toUtf8() +
                     '\n';
            if (chunk.size() > (1 << 20) || (n == kNames - 1 && i == kAccounts - 1)) {
                if (PQputCopyData(db.get(), chunk.constData(), int(chunk.size())) != 1)
                    return false;
                chunk.clear();
            }
        }
    }
    if (PQputCopyEnd(db.get(), nullptr) != 1)
        return false;
    PGresult* end = PQgetResult(db.get());
    const bool ok = PQresultStatus(end) == PGRES_COMMAND_OK;
    PQclear(end);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::printf("bench_team\n");
    PostgresServer server;
    if (!server.isRunning()) {
        std::fprintf(stderr, "no server: %s\n", qPrintable(server.error()));
        return 1;
    }
    const QString db = server.createDatabase();
    const TeamConfig config = TeamConfig::fromValues(server.connectionString(db), name(0));
    TeamStore store(config);

    QElapsedTimer timer;
    timer.start();
    store.probe();
    waitFor(&store, &TeamStore::statusChanged);
    std::printf("  first connect, tables made: %.0f ms (%s)\n", double(timer.nsecsElapsed()) / 1e6,
                store.status() == TeamStore::Status::Connected ? "connected" : "NOT connected");

    {
        MemoryOutbox outbox;
        for (int i = 0; i < kQueued; ++i)
            outbox.add(reading(i, 0, 30LL * 86400 + i));
        TeamSync sync(&outbox, &store);
        QEventLoop drained;
        QObject::connect(&sync, &TeamSync::batchDelivered, &drained, [&] {
            if (outbox.outboxSize() == 0)
                drained.quit();
        });
        timer.start();
        sync.readingsQueued();
        drained.exec();
        std::printf("  %d queued readings delivered (batches of %d): %.0f ms\n", kQueued,
                    TeamSync::Timing().batchSize, double(timer.nsecsElapsed()) / 1e6);
    }

    timer.start();
    if (!server.exec(db, u"TRUNCATE vesmora_readings"_s) || !fill(server.connectionString(db)) ||
        !server.exec(db, u"VACUUM ANALYZE vesmora_readings"_s)) {
        std::fprintf(stderr, "could not fill the table\n");
        return 1;
    }
    std::printf("  filled %d readings (%d lines x %d names) in %.1f s\n", kAccounts * kNames, kAccounts,
                kNames, double(timer.elapsed()) / 1000);

    QStringList list;
    for (int i = 0; i < kListSize; ++i)
        list << account(i * (kAccounts / kListSize));
    QList<TeamReading> team;
    QObject::connect(&store, &TeamStore::historyFetched, &store,
                     [&team](quint64, const QList<TeamReading>& readings) { team = readings; });
    QList<qint64> listTimes;
    for (int round = 0; round < 5; ++round) {
        timer.start();
        store.fetchHistory(quint64(round), list);
        waitFor(&store, &TeamStore::historyFetched);
        listTimes << timer.nsecsElapsed();
    }
    std::printf("  team history of a %d-account list (%d readings): median %.0f ms\n", kListSize,
                int(team.size()), medianMs(listTimes));

    QList<qint64> windowTimes;
    for (int round = 0; round < 5; ++round) {
        timer.start();
        store.fetchHistory(quint64(10 + round), list, kFirst.addDays(kNames / 2));
        waitFor(&store, &TeamStore::historyFetched);
        windowTimes << timer.nsecsElapsed();
    }
    std::printf("  the same list, the newest %d days only (%d readings): median %.0f ms\n", kNames / 2,
                int(team.size()), medianMs(windowTimes));
    store.fetchHistory(99, list);
    waitFor(&store, &TeamStore::historyFetched);

    // What the window adds: this PC's readings of the list merged in, on its own thread.
    QList<TeamReading> local;
    for (const TeamReading& r : std::as_const(team))
        if (r.takenBy == name(0))
            local << r;
    timer.start();
    const QList<TeamReading> merged = mergeReadings(local, team);
    std::printf("  merged with this PC's %d readings of it: %d readings in %.0f ms\n", int(local.size()),
                int(merged.size()), double(timer.nsecsElapsed()) / 1e6);

    QList<qint64> oneTimes;
    for (int round = 0; round < 200; ++round) {
        timer.start();
        store.fetchHistory(quint64(100 + round), {account((round * 7919) % kAccounts)});
        waitFor(&store, &TeamStore::historyFetched);
        oneTimes << timer.nsecsElapsed();
    }
    std::printf("  team history of one account (%d readings): median %.2f ms\n", int(team.size()),
                medianMs(oneTimes));

    const QStringList sizes = server.query(
        db, u"SELECT pg_table_size('vesmora_readings'), pg_indexes_size('vesmora_readings'), count(*) "
            "FROM vesmora_readings"_s);
    const QStringList parts = sizes.value(0).split(u'|');
    if (parts.size() == 3) {
        const double rows = parts[2].toDouble();
        std::printf("  on disk: table %.0f MB (%.0f bytes a reading), index %.0f MB (%.0f bytes a reading)\n",
                    parts[0].toDouble() / 1e6, parts[0].toDouble() / rows, parts[1].toDouble() / 1e6,
                    parts[1].toDouble() / rows);
        if (server.exec(db, u"REINDEX TABLE vesmora_readings"_s)) {
            const double index =
                server.query(db, u"SELECT pg_indexes_size('vesmora_readings')"_s).value(0).toDouble();
            std::printf("  index reindexed: %.0f MB (%.0f bytes a reading)\n", index / 1e6, index / rows);
        }
    }
    return 0;
}
