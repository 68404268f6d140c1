#include "BuildConfig.h"
#include "common/Endpoints.h"
#include "common/ProgramFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QTest>

// The program folder every hand-over path is built on, and the addresses with their overrides.
class TestProgramFolder : public QObject {
    Q_OBJECT

private slots:
    void oneTrailingSeparator_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("expected");
        QTest::newRow("folder") << QStringLiteral("/opt/Tools") << QStringLiteral("/opt/Tools/");
        QTest::newRow("root") << QStringLiteral("/") << QStringLiteral("/");
        QTest::newRow("already ends in one")
            << QStringLiteral("/opt/Tools/") << QStringLiteral("/opt/Tools/");
        QTest::newRow("doubled inside") << QStringLiteral("/opt//Tools") << QStringLiteral("/opt/Tools/");
        // A share keeps the two separators it starts with.
        QTest::newRow("share") << QStringLiteral("//server/share") << QStringLiteral("//server/share/");
    }
    void oneTrailingSeparator() {
        QFETCH(QString, folder);
        QFETCH(QString, expected);
        QCOMPARE(programFolderFrom(folder), QDir::toNativeSeparators(expected));
    }

    void overrideAndRealFolder() {
        QCOMPARE(Lj(), programFolderFrom(QCoreApplication::applicationDirPath()));
        setProgramFolderOverride(QStringLiteral("/tmp/x"));
        QCOMPARE(Lj(), QDir::toNativeSeparators(QStringLiteral("/tmp/x/")));
        setProgramFolderOverride(QString());
        QCOMPARE(Lj(), programFolderFrom(QCoreApplication::applicationDirPath()));
    }

    void addressesFollowTheEnvironment() {
        qputenv("VESMORA_OPERATOR_URL", "http://127.0.0.1:8123/");
        if constexpr (!VESMORA_ADDRESS_OVERRIDES) {
            // Built without overrides (the default on Windows): the built-in address stands.
            QCOMPARE(endpoints::operatorBase(), QUrl(QStringLiteral(VESMORA_DEFAULT_OPERATOR_URL)));
            qunsetenv("VESMORA_OPERATOR_URL");
        } else {
            QCOMPARE(
                endpoints::resourceLookup().toString(),
                QStringLiteral("http://127.0.0.1:8123/ehmsexp/rest/install/queryRmwResouceInfo?testType=2"));
            QCOMPARE(endpoints::signInPage().toString(),
                     QStringLiteral("http://127.0.0.1:8123/ehmsexp/jsp/login/login.jsp"));
            qputenv("VESMORA_UPDATE_URL", "https://update.example.invalid");
            QCOMPARE(endpoints::updateCheck().toString(),
                     QStringLiteral("https://update.example.invalid/soft/api/update.asp"));
            QCOMPARE(endpoints::downloadFolder().toString(),
                     QStringLiteral("https://update.example.invalid/soft/uploads/vesmora/"));
            qunsetenv("VESMORA_OPERATOR_URL");
            // Without an override the built-in address is used.
            QVERIFY(endpoints::operatorBase().isValid());
            QVERIFY(!endpoints::operatorBase().host().isEmpty());
        }
    }
};

QTEST_GUILESS_MAIN(TestProgramFolder)
#include "tst_program_folder.moc"
