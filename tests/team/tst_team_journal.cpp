#include "PostgresServer.h"
#include "journal/ReadingStore.h"
#include "journal/RunJournal.h"
#include "query/FakePostClient.h"
#include "query/JournalLink.h"
#include "query/ListHistory.h"
#include "query/QueryRun.h"
#include "team/TeamStore.h"
#include "team/TeamSync.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

constexpr int kWaitMs = 30000;
const QDateTime kMonday(QDate(2026, 11, 2), QTime(8, 30), Qt::UTC);

QStringList cells(const QString& account, const QString& ontRx) {
    return {account,  u"光猫在线"_s, ontRx,      u"2.10"_s,  u"-20.10"_s, u"3.50"_s,
            u"EMS"_s, u"10.1.2.3"_s, u"0/1/3"_s, u"GZ001"_s, u"分光器A"_s};
}

// One PC: its journal, queueing for the team under its name, and the drain to the database.
struct Pc {
    RunJournal journal;
    TeamStore store;
    TeamSync sync;
    Pc(const QString& path, const QString& connection, const QString& name)
        : journal(path), store(TeamConfig::fromValues(connection, name)),
          sync(journal.readings(), &store, nullptr, TeamSync::Timing{50, 400, 1000}) {
        journal.readings()->setTakenBy(name);
        journal.readings()->setQueueing(true);
        QObject::connect(&journal, &RunJournal::rowRecorded, &sync, &TeamSync::readingsQueued);
        sync.start();
    }
};

} // namespace

class TestTeamJournal : public QObject {
    Q_OBJECT

    std::unique_ptr<PostgresServer> m_server;
    QTemporaryDir m_dir;

private slots:
    void initTestCase() {
        m_server = std::make_unique<PostgresServer>();
        QVERIFY2(m_server->isRunning(), qPrintable(m_server->error()));
    }

    // What one PC measured shows in the other's history, named, each reading once.
    void twoDataFoldersShareReadings() {
        const QString connection = m_server->connectionString(m_server->createDatabase());
        Pc east(m_dir.filePath(u"east/journal.sqlite"_s), connection, u"张三"_s);
        Pc west(m_dir.filePath(u"west/journal.sqlite"_s), connection, u"李四"_s);
        QSignalSpy eastSent(&east.sync, &TeamSync::batchDelivered);
        QSignalSpy westSent(&west.sync, &TeamSync::batchDelivered);
        const qint64 eastRun = east.journal.startRun({u"209001"_s}, 30, kMonday);
        east.journal.recordRow(eastRun, 0, cells(u"209001"_s, u"-19.80"_s), QString(), kMonday);
        QVERIFY(eastSent.wait(kWaitMs));
        const qint64 westRun = west.journal.startRun({u"209001"_s}, 30, kMonday.addDays(7));
        west.journal.recordRow(westRun, 0, cells(u"209001"_s, u"-23.10"_s), QString(), kMonday.addDays(7));
        QVERIFY(westSent.wait(kWaitMs));

        ListHistory history(&west.journal, &west.store);
        history.setAccounts({u"209001"_s, u"209001"_s});
        QTRY_COMPARE_WITH_TIMEOUT(history.teamState(), ListHistory::Team::Loaded, kWaitMs);
        const auto previous = history.previousReading(u"209001"_s, kMonday.addDays(7));
        QVERIFY(previous);
        QCOMPARE(previous->ontReceive(), u"-19.80"_s);
        QCOMPARE(previous->takenBy, u"张三"_s);
        const auto readings = history.readingsOf({u"209001"_s});
        QCOMPARE(readings.size(), 2);
        QCOMPARE(readings[0].takenBy, u"李四"_s);
        QCOMPARE(readings[1].takenBy, u"张三"_s);
    }

    // A run with the database down goes on as fast as ever; its readings wait in the journal,
    // across a restart of the program, and go once the database is back.
    void serverDownDuringARun() {
        if (!m_server->isOwn())
            QSKIP("the shared server of the Windows lane cannot be stopped from here");
        const QString database = m_server->createDatabase();
        const QString connection = m_server->connectionString(database);
        const QString path = m_dir.filePath(u"down/journal.sqlite"_s);
        QVERIFY(m_server->kill());
        {
            Pc pc(path, connection, u"张三"_s);
            FakePostClient client;
            client.answer = [](const FakePostClient::Request& r) {
                return r.url.path().endsWith(QLatin1String("ResouceInfo"))
                           ? u"{\"rmw_test_desc\":\"资源查询成功\",\"rmw_olt_pon\":\"0/1/3\",\"rmw_olt_ip\":\"10.1.2.3\"}"_s
                           : u"{\"test_desc\":\"成功\",\"onu_accept\":-21.53}"_s;
            };
            QueryRun run(&client.session);
            run.setRateSource([] { return 1000; });
            run.setOperatorBase(QUrl(u"http://127.0.0.1:9"_s));
            JournalLink link(&run, &pc.journal, [] { return 1000; });
            QSignalSpy finished(&run, &QueryRun::finished);
            QVERIFY(run.start(u"209001\r\n209002\r\n209003"_s));
            QVERIFY(finished.wait(kWaitMs));
            QTRY_COMPARE_WITH_TIMEOUT(pc.sync.statusText(), u"团队库：无法连接，3 条读数待上传"_s, kWaitMs);
            QVERIFY(!pc.sync.statusTip().isEmpty());
        }
        QVERIFY(m_server->start());
        Pc restarted(path, connection, u"张三"_s);
        QTRY_COMPARE_WITH_TIMEOUT(restarted.sync.statusText(), u"团队库：已连接"_s, kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(restarted.journal.readings()->outboxSize(), 0, kWaitMs);
        QCOMPARE(
            m_server->query(database, u"SELECT account, ont_rx FROM vesmora_readings ORDER BY account"_s),
            QStringList({u"209001|-21.53"_s, u"209002|-21.53"_s, u"209003|-21.53"_s}));
    }
};

QTEST_GUILESS_MAIN(TestTeamJournal)
#include "tst_team_journal.moc"
