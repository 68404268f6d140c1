#include "journal/RunJournal.h"
#include "query/FakeClock.h"
#include "query/FakePostClient.h"
#include "query/JournalLink.h"
#include "query/QueryRun.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString kResourceOk =
    u"{\"rmw_test_desc\":\"资源查询成功\",\"rmw_ems\":\"广州天河EMS\",\"rmw_olt_pon\":\"0/1/3\","
    "\"rmw_loid\":\"GZ001\",\"rmw_pos_name\":\"天河-1:8-03\",\"rmw_olt_ip\":\"10.1.2.3\"}"_s;
const QString kPowerOk =
    u"{\"test_desc\":\"成功\",\"olt_send\":3.21,\"onu_send\":2.5,\"olt_accept\":-23.47,\"onu_accept\":-21.53}"_s;

} // namespace

class TestJournalLink : public QObject {
    Q_OBJECT

private slots:
    // What the list showed is what the journal holds, row by row, failures with their reasons.
    void journalFollowsTheRun() {
        QTemporaryDir dir;
        RunJournal journal(dir.filePath(u"journal.sqlite"_s));
        FakePostClient client;
        QueryRun run(&client.session);
        run.setRateSource([] { return 1000; });
        run.setOperatorBase(QUrl(u"http://127.0.0.1:9"_s));
        client.answer = [](const FakePostClient::Request& r) {
            if (r.body.contains("209002"))
                return QString(); // no reply: the row fails
            return r.url.path().endsWith(QLatin1String("ResouceInfo")) ? kResourceOk : kPowerOk;
        };
        JournalLink link(&run, &journal, [] { return 45; });
        QSignalSpy finished(&run, &QueryRun::finished);

        QVERIFY(run.start(u"209001\r\n209002\r\n209003"_s));
        QVERIFY(finished.wait(10000));
        const auto stored = journal.loadRun(link.journalRun());
        QVERIFY(stored);
        QCOMPARE(stored->accounts, QStringList({u"209001"_s, u"209002"_s, u"209003"_s}));
        QCOMPARE(stored->rate, 45);
        QCOMPARE(stored->rows.size(), 3);
        for (int i = 0; i < 3; ++i) {
            const QueryRun::Row row = run.row(i);
            QCOMPARE(stored->rows[i].cells, QStringList(row.begin(), row.end()));
            QCOMPARE(stored->rows[i].failure, run.failureReason(i));
        }
        QVERIFY(!stored->rows[1].failure.isEmpty());
        QCOMPARE(journal.history(u"209003"_s).value(0).ontReceive(), u"-21.53"_s);
        QVERIFY(!RunJournal(dir.filePath(u"journal.sqlite"_s)).claimUnfinished()); // ended
        QCOMPARE(JournalLink::restoreQuestion({7, 2, 3, 30, {}}),
                 u"上次查询未完成（已完成 2/3），是否继续?"_s);

        // Run again, the failed row replaces its record in the same journal run.
        client.answer = [](const FakePostClient::Request& r) {
            return r.url.path().endsWith(QLatin1String("ResouceInfo")) ? kResourceOk : kPowerOk;
        };
        const qint64 first = link.journalRun();
        QVERIFY(run.retryFailed());
        QVERIFY(finished.wait(10000));
        QCOMPARE(link.journalRun(), first);
        QCOMPARE(journal.loadRun(first)->rows[1].failure, QString());
        QCOMPARE(journal.history(u"209002"_s).size(), 1);

        // A new list: each row is told the reading it replaces, and recorded as a new run.
        QSignalSpy previous(&link, &JournalLink::previousReading);
        QVERIFY(run.start(u"209003\r\n209004"_s));
        QVERIFY(finished.wait(10000));
        QVERIFY(link.journalRun() != first);
        QCOMPARE(previous.size(), 1);
        QCOMPARE(previous[0][0].toInt(), 0);
        QCOMPARE(previous[0][1].value<journal::Reading>().ontReceive(), u"-21.53"_s);
        QCOMPARE(journal.history(u"209003"_s).size(), 2);
    }

    // The row starts of a run are counted by the next, here a second program on the same data
    // folder (or the same program after a restart): no minute sees more than the rate.
    void paceHoldsAcrossPrograms() {
        QTemporaryDir dir;
        FakeClock clock;
        FakePostClient client;
        client.answer = [](const FakePostClient::Request& r) {
            return r.url.path().endsWith(QLatin1String("ResouceInfo")) ? kResourceOk : kPowerOk;
        };
        RunJournal first(dir.filePath(u"journal.sqlite"_s));
        RunJournal second(dir.filePath(u"journal.sqlite"_s));
        QueryRun earlier(&client.session, &clock);
        QueryRun later(&client.session, &clock);
        for (QueryRun* run : {&earlier, &later}) {
            run->setRateSource([] { return 3; });
            run->setPauseTickMs(5);
            run->setOperatorBase(QUrl(u"http://127.0.0.1:9"_s));
        }
        JournalLink firstLink(&earlier, &first, [] { return 3; });
        JournalLink secondLink(&later, &second, [] { return 3; });
        QSignalSpy earlierDone(&earlier, &QueryRun::finished);
        QVERIFY(earlier.start(u"209001\r\n209002\r\n209003"_s));
        QVERIFY(earlierDone.wait(10000));

        QSignalSpy laterRows(&later, &QueryRun::rowDone);
        QSignalSpy paused(&later, &QueryRun::paused);
        QVERIFY(later.start(u"209004"_s));
        QVERIFY(paused.wait(10000));
        // The real time between the two runs counts too: a generous margin below the minute.
        clock.advance(50000);
        QVERIFY(paused.wait(10000)); // the countdown, now ten seconds or less
        QCOMPARE(laterRows.size(), 0);
        clock.advance(10001);
        QTRY_COMPARE(laterRows.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestJournalLink)
#include "tst_journal_link.moc"
