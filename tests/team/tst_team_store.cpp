#include "MemoryOutbox.h"
#include "PgProxy.h"
#include "PostgresServer.h"
#include "team/TeamStore.h"
#include "team/TeamSync.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using Status = TeamStore::Status;

namespace {

constexpr int kWaitMs = 30000;
// Retries within a test's patience: 50 ms, doubling to 400 ms.
const TeamSync::Timing kQuick{50, 400, 1000};
const QString kWrongPassword = u"Wr0ng-S3cret"_s;

// "account|yyyy-MM-dd hh:mm:ss.zzz|name|ONT rx" (UTC)
TeamReading reading(const QString& text) {
    const QStringList parts = text.split(u'|');
    TeamReading reading;
    reading.account = parts[0];
    reading.takenAt = QDateTime::fromString(parts[1], u"yyyy-MM-dd hh:mm:ss.zzz"_s);
    reading.takenAt.setTimeSpec(Qt::UTC);
    reading.takenBy = parts[2];
    reading.values = {parts[3], u"2.10"_s, QString(), u"3.50"_s};
    return reading;
}

QList<TeamReading> readings(const QStringList& texts) {
    QList<TeamReading> list;
    for (const QString& text : texts)
        list << reading(text);
    return list;
}

QStringList texts(const QList<TeamReading>& list) {
    QStringList lines;
    for (const TeamReading& r : list)
        lines << QStringList{r.account,   r.takenAt.toUTC().toString(u"yyyy-MM-dd hh:mm:ss.zzz"_s),
                             r.takenBy,   r.values[0],
                             r.values[1], r.values[2],
                             r.values[3]}
                     .join(u'|');
    return lines;
}

const QStringList kBatch{u"209001|2026-11-02 08:30:00.125|张三|-20.10"_s,
                         u"209002|2026-11-02 08:30:02.500|张三|-18.40"_s,
                         u"209003|2026-11-02 08:30:04.875|张三|-27.90"_s};
const QStringList kBatchStored{u"209001|2026-11-02 08:30:00.125|张三|-20.10|2.10|<null>|3.50"_s,
                               u"209002|2026-11-02 08:30:02.500|张三|-18.40|2.10|<null>|3.50"_s,
                               u"209003|2026-11-02 08:30:04.875|张三|-27.90|2.10|<null>|3.50"_s};
const QString kBatchRead = u"209001|2026-11-02 08:30:00.125|张三|-20.10|2.10||3.50"_s;

// The first tables, as a team that started with them has them.
const QString kVersion1 = uR"(
    CREATE TABLE vesmora_schema (version integer NOT NULL);
    INSERT INTO vesmora_schema VALUES (1);
    CREATE TABLE vesmora_readings (id bigserial PRIMARY KEY, account text NOT NULL,
        taken_at timestamptz NOT NULL, taken_by text NOT NULL,
        ont_rx text, ont_tx text, olt_rx text, olt_tx text);
    CREATE UNIQUE INDEX vesmora_readings_key ON vesmora_readings (account, taken_at, taken_by);
    INSERT INTO vesmora_readings (account, taken_at, taken_by, ont_rx)
        VALUES ('209001', '2026-11-01 08:00:00+00', '李四', '-21.50');)"_s;

} // namespace

class TestTeamStore : public QObject {
    Q_OBJECT

    std::unique_ptr<PostgresServer> m_server;

    TeamConfig config(const QString& database, const QString& user = QString(),
                      const QString& password = QString(), int port = 0) const {
        return TeamConfig::fromValues(m_server->connectionString(database, user, password, port), u"张三"_s);
    }
    QStringList stored(const QString& database) const {
        return m_server->query(database,
                               u"SELECT account, to_char(taken_at AT TIME ZONE 'UTC', "
                               "'YYYY-MM-DD HH24:MI:SS.MS'), taken_by, ont_rx, ont_tx, olt_rx, olt_tx "
                               "FROM vesmora_readings ORDER BY 1, 2, 3"_s);
    }
    // The tables made by the program itself, as its superuser.
    bool makeTables(const QString& database) const {
        TeamStore store(config(database));
        store.probe();
        QSignalSpy status(&store, &TeamStore::statusChanged);
        return status.wait(kWaitMs) && store.status() == Status::Connected;
    }

private slots:
    void initTestCase() {
        m_server = std::make_unique<PostgresServer>();
        QVERIFY2(m_server->isRunning(), qPrintable(m_server->error()));
    }
    void cleanupTestCase() { m_server.reset(); }

    // A new database gets the tables; old ones are brought up to date, their readings kept.
    void schemaOnFirstConnect_data() {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QStringList>("after");
        QTest::newRow("empty database") << QString() << QStringList{kBatchStored[0]};
        QTest::newRow("version 1 holding a reading")
            << kVersion1
            << QStringList{u"209001|2026-11-01 08:00:00.000|李四|-21.50|<null>|<null>|<null>"_s,
                           kBatchStored[0]};
    }
    void schemaOnFirstConnect() {
        QFETCH(QString, before);
        QFETCH(QStringList, after);
        const QString db = m_server->createDatabase();
        QVERIFY(before.isEmpty() || m_server->exec(db, before));
        TeamStore store(config(db));
        QSignalSpy delivered(&store, &TeamStore::delivered);
        store.deliver(1, readings({kBatch[0]}));
        QVERIFY(delivered.wait(kWaitMs));
        QCOMPARE(store.status(), Status::Connected);
        QCOMPARE(m_server->query(db, u"SELECT version FROM vesmora_schema"_s), QStringList{u"2"_s});
        QCOMPARE(
            m_server->query(db, u"SELECT indexdef FROM pg_indexes WHERE tablename = 'vesmora_readings'"_s),
            QStringList{u"CREATE UNIQUE INDEX vesmora_readings_pkey ON public.vesmora_readings "
                        "USING btree (account, taken_at, taken_by)"_s});
        QCOMPARE(stored(db), after);
    }

    // A role that may not create tables reads and writes what is there, and says what is missing.
    void roleWithoutRightsToCreate_data() {
        QTest::addColumn<QString>("tables");
        QTest::addColumn<Status>("status");
        QTest::addColumn<QStringList>("history");
        QTest::newRow("none") << u"none"_s << Status::SchemaMissing << QStringList{u"<failed>"_s};
        QTest::newRow("version 1") << u"1"_s << Status::SchemaMissing
                                   << QStringList{kBatchRead,
                                                  u"209001|2026-11-01 08:00:00.000|李四|-21.50|||"_s};
        QTest::newRow("version 2") << u"2"_s << Status::Connected << QStringList{kBatchRead};
    }
    void roleWithoutRightsToCreate() {
        QFETCH(QString, tables);
        QFETCH(Status, status);
        QFETCH(QStringList, history);
        const QString db = m_server->createDatabase();
        const QString role = m_server->uniqueName(u"field"_s);
        QVERIFY(m_server->exec(db, u"CREATE ROLE %1 LOGIN PASSWORD 'field-pw'"_s.arg(role)));
        if (tables == u"1"_s)
            QVERIFY(m_server->exec(db, kVersion1 + u"GRANT USAGE ON SEQUENCE vesmora_readings_id_seq TO "_s +
                                           role));
        if (tables == u"2"_s)
            QVERIFY(makeTables(db));
        if (tables != u"none"_s)
            QVERIFY(m_server->exec(db, u"GRANT SELECT ON vesmora_schema TO %1; "
                                       "GRANT SELECT, INSERT ON vesmora_readings TO %1"_s.arg(role)));

        TeamStore store(config(db, role, u"field-pw"_s));
        QSignalSpy answered(&store, &TeamStore::historyFetched);
        QSignalSpy failed(&store, &TeamStore::historyFailed);
        store.deliver(1, readings({kBatch[0]}));
        store.fetchHistory(2, {u"209001"_s});
        QTRY_COMPARE_WITH_TIMEOUT(answered.count() + failed.count(), 1, kWaitMs);
        QCOMPARE(store.status(), status);
        QCOMPARE(answered.isEmpty() ? QStringList{u"<failed>"_s}
                                    : texts(answered[0][1].value<QList<TeamReading>>()),
                 history);
        QVERIFY(status == Status::Connected || !store.statusDetail().isEmpty());
    }

    void batchSentTwiceStoredOnce() {
        const QString db = m_server->createDatabase();
        TeamStore store(config(db));
        QSignalSpy delivered(&store, &TeamStore::delivered);
        store.deliver(1, readings(kBatch));
        store.deliver(2, readings(kBatch));
        QTRY_COMPARE_WITH_TIMEOUT(delivered.count(), 2, kWaitMs);
        QCOMPARE(stored(db), kBatchStored);
    }

    // The connection dies with the batch's statement on the way or its commit unanswered: the
    // batch stays queued, goes again, and is stored once.
    void killedInTheMiddleOfABatch_data() {
        QTest::addColumn<PgProxy::Hold>("hold");
        QTest::newRow("before the server has it") << PgProxy::Hold::BeforeServer;
        QTest::newRow("committed, the answer lost") << PgProxy::Hold::BeforeClient;
    }
    void killedInTheMiddleOfABatch() {
        QFETCH(PgProxy::Hold, hold);
        const QString db = m_server->createDatabase();
        PgProxy proxy(m_server->host(), m_server->port());
        MemoryOutbox outbox;
        for (const TeamReading& r : readings(kBatch))
            outbox.add(r);
        TeamStore store(config(db, QString(), QString(), proxy.port()));
        TeamSync sync(&outbox, &store, nullptr, kQuick);
        QSignalSpy held(&proxy, &PgProxy::held);
        QSignalSpy failed(&store, &TeamStore::deliveryFailed);
        proxy.holdAt("INSERT INTO vesmora_readings", hold);
        sync.start();
        QVERIFY(held.wait(kWaitMs));
        QCOMPARE(outbox.outboxSize(), 3);
        // Where the server is this program's own, it dies as in a crash; where it is shared (the
        // Windows lane), only this connection does.
        if (m_server->isOwn())
            QVERIFY(m_server->kill());
        proxy.cut();
        QTRY_VERIFY_WITH_TIMEOUT(failed.count() >= 1, kWaitMs);
        QCOMPARE(outbox.outboxSize(), 3);
        if (m_server->isOwn())
            QVERIFY(m_server->start());
        QTRY_COMPARE_WITH_TIMEOUT(outbox.outboxSize(), 0, kWaitMs);
        QCOMPARE(stored(db), kBatchStored);
    }

    // The status line names the cause; the password shows nowhere.
    void cannotConnect_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("cause"); // in libpq's message, in any language
        QTest::newRow("wrong password") << QString() << u"<role>"_s;
        QTest::newRow("unknown host") << u"nohost.invalid"_s << u"nohost.invalid"_s;
    }
    void cannotConnect() {
        QFETCH(QString, host);
        QFETCH(QString, cause);
        const QString role = m_server->uniqueName(u"field"_s);
        QVERIFY(m_server->exec(u"postgres"_s, u"CREATE ROLE %1 LOGIN PASSWORD 'right-pw'"_s.arg(role)));
        cause.replace(u"<role>"_s, role);
        QString database = m_server->connectionString(u"postgres"_s, role, kWrongPassword);
        if (!host.isEmpty())
            database = u"host=%1 dbname=vesmora user=%2 password=%3"_s.arg(host, role, kWrongPassword);
        MemoryOutbox outbox;
        for (const TeamReading& r : readings(kBatch.mid(0, 2)))
            outbox.add(r);
        TeamStore store(TeamConfig::fromValues(database, QString()));
        TeamSync sync(&outbox, &store, nullptr, kQuick);
        sync.start();
        QTRY_COMPARE_WITH_TIMEOUT(sync.statusText(), u"团队库：无法连接，2 条读数待上传"_s, kWaitMs);
        QVERIFY2(sync.statusTip().contains(cause), qPrintable(sync.statusTip()));
        QVERIFY(!sync.statusTip().contains(kWrongPassword));
        QVERIFY(!store.statusDetail().contains(kWrongPassword));
    }

    void serverDownThenBack() {
        const QString db = m_server->createDatabase();
        PgProxy proxy(m_server->host(), m_server->port());
        proxy.setDown(true);
        MemoryOutbox outbox;
        for (const TeamReading& r : readings(kBatch))
            outbox.add(r);
        TeamStore store(config(db, QString(), QString(), proxy.port()));
        TeamSync sync(&outbox, &store, nullptr, kQuick);
        QSignalSpy failed(&store, &TeamStore::deliveryFailed);
        sync.start();
        QTRY_COMPARE_WITH_TIMEOUT(sync.statusText(), u"团队库：无法连接，3 条读数待上传"_s, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(failed.count() >= 3, kWaitMs); // it keeps trying
        proxy.setDown(false);
        QTRY_COMPARE_WITH_TIMEOUT(outbox.outboxSize(), 0, kWaitMs);
        QCOMPARE(sync.statusText(), u"团队库：已连接"_s);
        QCOMPARE(stored(db), kBatchStored);
    }

    // However long the list, one statement; newest first, across names.
    void historyOfAListInOneQuery_data() {
        QTest::addColumn<QDateTime>("since");
        QTest::addColumn<QStringList>("history");
        QTest::newRow("all") << QDateTime()
                             << QStringList{kBatchRead,
                                            u"209001|2026-11-01 09:00:00.000|李四|-16.00|2.10||3.50"_s,
                                            u"209002|2026-10-30 17:45:10.000|王五|-18.40|2.10||3.50"_s};
        QTest::newRow("since 1 November, the first of it included")
            << QDateTime(QDate(2026, 11, 1), QTime(9, 0), Qt::UTC)
            << QStringList{kBatchRead, u"209001|2026-11-01 09:00:00.000|李四|-16.00|2.10||3.50"_s};
    }
    void historyOfAListInOneQuery() {
        QFETCH(QDateTime, since);
        QFETCH(QStringList, history);
        const QString db = m_server->createDatabase();
        {
            TeamStore writer(config(db));
            QSignalSpy delivered(&writer, &TeamStore::delivered);
            writer.deliver(1, readings({u"209001|2026-11-01 09:00:00.000|李四|-16.00"_s, kBatch[0],
                                        u"209002|2026-10-30 17:45:10.000|王五|-18.40"_s,
                                        u"209999|2026-11-02 08:31:00.000|王五|-25.00"_s}));
            QVERIFY(delivered.wait(kWaitMs));
        }
        PgProxy proxy(m_server->host(), m_server->port());
        TeamStore store(config(db, QString(), QString(), proxy.port()));
        QSignalSpy status(&store, &TeamStore::statusChanged);
        store.probe();
        QVERIFY(status.wait(kWaitMs));
        proxy.resetStatements();
        QSignalSpy fetched(&store, &TeamStore::historyFetched);
        store.fetchHistory(7, {u"209001"_s, u"209002"_s, u"209003"_s}, since);
        QVERIFY(fetched.wait(kWaitMs));
        QCOMPARE(proxy.statements(), 1);
        QCOMPARE(fetched[0][0].value<quint64>(), quint64(7));
        QCOMPARE(texts(fetched[0][1].value<QList<TeamReading>>()), history);
    }
};

QTEST_GUILESS_MAIN(TestTeamStore)
#include "tst_team_store.moc"
