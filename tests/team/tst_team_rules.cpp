#include "common/IniFile.h"
#include "team/TeamConfig.h"
#include "team/TeamMerge.h"
#include "team/TeamSync.h"

#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QByteArray optionOf(const TeamConfig& config, const QByteArray& keyword) {
    for (const auto& [key, value] : config.connectionOptions())
        if (key == keyword)
            return value;
    return "<none>";
}

// "account|yyyy-MM-dd hh:mm|name|ONT rx"
TeamReading reading(const QString& text) {
    const QStringList parts = text.split(u'|');
    TeamReading reading;
    reading.account = parts[0];
    reading.takenAt = QDateTime::fromString(parts[1], u"yyyy-MM-dd hh:mm"_s);
    reading.takenAt.setTimeSpec(Qt::UTC);
    reading.takenBy = parts[2];
    reading.values[0] = parts[3];
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
        lines << QStringList{r.account, r.takenAt.toString(u"yyyy-MM-dd hh:mm"_s), r.takenBy, r.values[0]}
                     .join(u'|');
    return lines;
}

} // namespace

class TestTeamRules : public QObject {
    Q_OBJECT

private slots:
    // connect_timeout: at most 10 s, whatever the string's form says; the rest of it as written.
    void connectionString_data() {
        QTest::addColumn<QString>("database");
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<QByteArray>("timeout");
        QTest::newRow("keyword/value, none set")
            << u"host=10.1.2.3 port=5432 dbname=vesmora user=field password=pw"_s << QByteArray("10.1.2.3")
            << QByteArray("10");
        QTest::newRow("keyword/value, 3 s")
            << u"host=h1 connect_timeout=3"_s << QByteArray("h1") << QByteArray("3");
        QTest::newRow("keyword/value, 10 s")
            << u"host=h1 connect_timeout=10"_s << QByteArray("h1") << QByteArray("10");
        QTest::newRow("keyword/value, 11 s")
            << u"host=h1 connect_timeout=11"_s << QByteArray("h1") << QByteArray("10");
        QTest::newRow("0, which waits forever")
            << u"host=h1 connect_timeout=0"_s << QByteArray("h1") << QByteArray("10");
        QTest::newRow("URI, none set")
            << u"postgresql://field@10.1.2.3:5432/vesmora"_s << QByteArray("10.1.2.3") << QByteArray("10");
        QTest::newRow("URI, 5 s") << u"postgres://10.1.2.3/vesmora?connect_timeout=5&sslmode=require"_s
                                  << QByteArray("10.1.2.3") << QByteArray("5");
        QTest::newRow("URI, 60 s") << u"postgresql://10.1.2.3/vesmora?connect_timeout=60"_s
                                   << QByteArray("10.1.2.3") << QByteArray("10");
    }
    void connectionString() {
        QFETCH(QString, database);
        QFETCH(QByteArray, host);
        QFETCH(QByteArray, timeout);
        const TeamConfig config = TeamConfig::fromValues(database, u"张三"_s);
        QVERIFY(config.isEnabled());
        QCOMPARE(config.error(), QString());
        QCOMPARE(optionOf(config, "host"), host);
        QCOMPARE(optionOf(config, "connect_timeout"), timeout);
        QCOMPARE(optionOf(config, "client_encoding"), QByteArray("UTF8"));
    }

    void fromIni_data() {
        QTest::addColumn<QString>("database"); // empty: no key
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("expectedName");
        QTest::newRow("no Database key") << QString() << QString() << false << u"tester@"_s;
        QTest::newRow("Database and Name")
            << u"host=10.1.2.3 dbname=vesmora"_s << u"张三"_s << true << u"张三"_s;
        QTest::newRow("no Name: login@computer") << u"host=10.1.2.3"_s << QString() << true << u"tester@"_s;
    }
    void fromIni() {
        QFETCH(QString, database);
        QFETCH(QString, name);
        QFETCH(bool, enabled);
        QFETCH(QString, expectedName);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"vesmora.ini"_s);
        QVERIFY(iniWrite(u"Thresholds"_s, u"DropDb"_s, u"3"_s, path) > 0);
        if (!database.isEmpty())
            QVERIFY(iniWrite(u"Team"_s, u"Database"_s, database, path) > 0);
        if (!name.isEmpty())
            QVERIFY(iniWrite(u"Team"_s, u"Name"_s, name, path) > 0);
        qputenv("USERNAME", "tester");
        qputenv("USER", "tester");
        const TeamConfig config = TeamConfig::fromIni(path);
        QCOMPARE(config.isEnabled(), enabled);
        if (expectedName.endsWith(u'@'))
            expectedName += QSysInfo::machineHostName();
        QCOMPARE(config.name(), expectedName);
    }

    // Whatever carries a password leaves the team path without it.
    void scrub_data() {
        QTest::addColumn<QString>("database");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("expected");
        QTest::newRow("the string's password, quoted by a message")
            << u"host=h1 password=S3cret!x"_s << u"FATAL: no entry for S3cret!x"_s
            << u"FATAL: no entry for ******"_s;
        QTest::newRow("a quoted password with a blank")
            << u"host=h1 password='my pw'"_s << u"bad \"my pw\""_s << u"bad \"******\""_s;
        QTest::newRow("a URI's password, encoded and not")
            << u"postgresql://field:S3%21x@h1/db"_s << u"\"S3%21x\" or \"S3!x\""_s
            << u"\"******\" or \"******\""_s;
        QTest::newRow("password=... of another string")
            << u"host=h1"_s << u"in \"host=h2 password=Zz9 port=1\""_s
            << u"in \"host=h2 password=****** port=1\""_s;
        QTest::newRow("user:password@ of another URI")
            << u"host=h1"_s << u"at postgres://u:Zz9@h2/db"_s << u"at postgres://u:******@h2/db"_s;
    }
    void scrub() {
        QFETCH(QString, database);
        QFETCH(QString, message);
        QFETCH(QString, expected);
        QCOMPARE(TeamConfig::fromValues(database, QString()).scrub(message), expected);
    }

    // libpq quotes the broken part of a string it cannot parse, which may be the password (in
    // the language of the user's locale, hence no whole message here).
    void unparsableString() {
        const TeamConfig config = TeamConfig::fromValues(u"postgresql://field:Se%zzcret@h1/db"_s, QString());
        QVERIFY(config.isEnabled());
        QVERIFY2(config.error().contains(u"******"_s), qPrintable(config.error()));
        QVERIFY2(!config.error().contains(u"zzcret"_s), qPrintable(config.error()));
    }

    void retryDelay_data() {
        QTest::addColumn<int>("failures");
        QTest::addColumn<int>("delayMs");
        QTest::newRow("first") << 1 << 30000;
        QTest::newRow("second") << 2 << 60000;
        QTest::newRow("fourth") << 4 << 240000;
        QTest::newRow("fifth, at the ceiling") << 5 << 300000;
        QTest::newRow("fiftieth") << 50 << 300000;
    }
    void retryDelay() {
        QFETCH(int, failures);
        QFETCH(int, delayMs);
        QCOMPARE(TeamSync::retryDelayMs(failures, TeamSync::Timing()), delayMs);
    }

    void merge_data() {
        QTest::addColumn<QStringList>("local");
        QTest::addColumn<QStringList>("team");
        QTest::addColumn<QStringList>("merged");
        QTest::newRow("this PC's reading, delivered, counted once")
            << QStringList{u"209001|2026-11-02 08:30|张三|-20.1"_s}
            << QStringList{u"209001|2026-11-02 08:30|张三|-20.1"_s, u"209001|2026-11-01 09:00|李四|-16.0"_s}
            << QStringList{u"209001|2026-11-02 08:30|张三|-20.1"_s, u"209001|2026-11-01 09:00|李四|-16.0"_s};
        QTest::newRow("same time, two names: both")
            << QStringList{u"209001|2026-11-02 08:30|张三|-20.1"_s}
            << QStringList{u"209001|2026-11-02 08:30|李四|-20.3"_s}
            << QStringList{u"209001|2026-11-02 08:30|张三|-20.1"_s, u"209001|2026-11-02 08:30|李四|-20.3"_s};
        QTest::newRow("newest first across both")
            << QStringList{u"209001|2026-10-30 08:00|张三|-19.0"_s, u"209002|2026-11-03 10:00|张三|-22.0"_s}
            << QStringList{u"209001|2026-11-01 09:00|李四|-16.0"_s}
            << QStringList{u"209002|2026-11-03 10:00|张三|-22.0"_s, u"209001|2026-11-01 09:00|李四|-16.0"_s,
                           u"209001|2026-10-30 08:00|张三|-19.0"_s};
        QTest::newRow("both hold it: this PC's copy") << QStringList{u"209001|2026-11-02 08:30|张三|-20.1"_s}
                                                      << QStringList{u"209001|2026-11-02 08:30|张三|-99.9"_s}
                                                      << QStringList{u"209001|2026-11-02 08:30|张三|-20.1"_s};
    }
    void merge() {
        QFETCH(QStringList, local);
        QFETCH(QStringList, team);
        QFETCH(QStringList, merged);
        QCOMPARE(texts(mergeReadings(readings(local), readings(team))), merged);
    }
};

QTEST_GUILESS_MAIN(TestTeamRules)
#include "tst_team_rules.moc"
