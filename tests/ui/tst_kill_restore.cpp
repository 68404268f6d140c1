// A real run against the stand-in, killed (SIGKILL) at several points and restored with 是 in a
// new process: the request log and the journal show what was sent again and what the list holds.
#include "StandinHttp.h"
#include "StandinServer.h"
#include "journal/RunJournal.h"

#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

using namespace Qt::StringLiterals;

namespace {

// Four lookups are held for a second: every kill point below is followed by one, so a row is
// always left to restore, and some kill points find a row in flight.
const QStringList kAccounts{u"2090000001"_s,  u"2090000002"_s,  u"res-slow-1a"_s, u"2090000003"_s,
                            u"pow-slow-1b"_s, u"2090000004"_s,  u"res-500"_s,     u"2090000005"_s,
                            u"res-slow-1c"_s, u"pow-offline"_s, u"res-slow-1d"_s, u"2090000006"_s};

const QString kResourcePath = u"/ehmsexp/rest/install/queryRmwResouceInfo"_s;

QProcessEnvironment childEnvironment(const StandinServer& server) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"VESMORA_OPERATOR_URL"_s, server.baseUrl().toString());
    return env;
}

void startChild(QProcess& child, const StandinServer& server, const QStringList& args) {
    child.setProcessEnvironment(childEnvironment(server));
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QStringLiteral(VESMORA_RUN_CHILD), args);
}

// Resource lookups per account sent with this session cookie.
QHash<QString, int> resourceLookups(const StandinServer& server, const QString& cookie) {
    QHash<QString, int> sent;
    for (const QJsonObject& request : server.requests(kResourcePath)) {
        if (request.value(u"cookie"_s).toString() == cookie)
            ++sent[request.value(u"body"_s).toString().mid(6)];
    }
    return sent;
}

QMap<int, QStringList> storedCells(const QString& journalPath) {
    RunJournal journal(journalPath);
    QMap<int, QStringList> cells;
    if (const auto run = journal.loadRun(1)) {
        for (const journal::StoredRow& row : run->rows)
            cells.insert(row.position, row.cells);
    }
    return cells;
}

} // namespace

class KillRestoreTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void killedRunIsRestoredAndFinished_data();
    void killedRunIsRestoredAndFinished();

private:
    QMap<int, QStringList> m_reference; // the rows of a run never killed
};

void KillRestoreTest::initTestCase() {
    StandinServer server;
    QVERIFY(server.isRunning());
    QTemporaryDir dir;
    QProcess child;
    startChild(child, server,
               QStringList{dir.filePath(u"j.sqlite"_s), standinSignIn(server.baseUrl())} + kAccounts);
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.exitCode(), 0);
    m_reference = storedCells(dir.filePath(u"j.sqlite"_s));
    QCOMPARE(m_reference.size(), kAccounts.size());
    QCOMPARE(m_reference.value(0).value(1), u"成功"_s);
}

void KillRestoreTest::killedRunIsRestoredAndFinished_data() {
    QTest::addColumn<int>("killAfter"); // requests answered
    QTest::newRow("first row under way") << 1;
    QTest::newRow("resource lookup held") << 4;
    QTest::newRow("power lookup held") << 9;
    QTest::newRow("past a failed row") << 12;
    QTest::newRow("second held resource lookup") << 15;
    QTest::newRow("last held resource lookup") << 19;
}

void KillRestoreTest::killedRunIsRestoredAndFinished() {
    QFETCH(int, killAfter);
    StandinServer server;
    QVERIFY(server.isRunning());
    QTemporaryDir dir;
    const QString journalPath = dir.filePath(u"j.sqlite"_s);

    const QString first = standinSignIn(server.baseUrl());
    QProcess killed;
    startChild(killed, server, QStringList{journalPath, first} + kAccounts);
    QVERIFY(QTest::qWaitFor([&] { return server.requests().size() >= killAfter + 1; }, 30000));
    ::kill(pid_t(killed.processId()), SIGKILL);
    QVERIFY(killed.waitForFinished(10000));
    const QMap<int, QStringList> finishedAtKill = storedCells(journalPath);
    QVERIFY(finishedAtKill.size() < kAccounts.size());

    const QString second = standinSignIn(server.baseUrl());
    QProcess restored;
    startChild(restored, server, {journalPath, second});
    QVERIFY(restored.waitForFinished(60000));
    QCOMPARE(restored.exitCode(), 0);

    const QHash<QString, int> before = resourceLookups(server, first);
    const QHash<QString, int> after = resourceLookups(server, second);
    int sentAgain = 0;
    for (int i = 0; i < kAccounts.size(); ++i) {
        const QString& account = kAccounts[i];
        QVERIFY2(before.value(account) + after.value(account) >= 1, qPrintable(account));
        QVERIFY2(after.value(account) <= 1, qPrintable(account));
        if (finishedAtKill.contains(i))
            QVERIFY2(after.value(account) == 0, qPrintable(account + u" finished, sent again"_s));
        else if (before.value(account) > 0 && after.value(account) > 0)
            ++sentAgain;
    }
    QVERIFY(sentAgain <= 1);
    QCOMPARE(storedCells(journalPath), m_reference);
}

QTEST_GUILESS_MAIN(KillRestoreTest)
#include "tst_kill_restore.moc"
