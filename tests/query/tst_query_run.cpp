#include "FakeClock.h"
#include "FakePostClient.h"
#include "common/ErrorText.h"
#include "query/LookupRules.h"
#include "query/QueryRun.h"
#include "query/Thresholds.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(PostReply)

namespace {

const QString kResourceOk =
    u"{\"rmw_test_desc\":\"资源查询成功\",\"rmw_ems\":\"广州天河EMS\",\"rmw_olt_pon\":\"0/1/3\","
    "\"rmw_loid\":\"GZ001\",\"rmw_pos_name\":\"天河-1:8-03\",\"rmw_olt_ip\":\"10.1.2.3\"}"_s;
const QString kPowerOk =
    u"{\"test_desc\":\"成功\",\"olt_send\":3.21,\"onu_send\":2.5,\"olt_accept\":-23.47,\"onu_accept\":-21.53}"_s;

QStringList cells(const QueryRun::Row& row) {
    return QStringList(row.begin(), row.end());
}

// Decodes a form body into its pairs, keeping order.
QList<QPair<QString, QString>> decodeForm(const QByteArray& body) {
    QList<QPair<QString, QString>> pairs;
    for (const QByteArray& piece : body.split('&')) {
        const qsizetype eq = piece.indexOf('=');
        auto decode = [](QByteArray text) { return QUrl::fromPercentEncoding(text.replace('+', ' ')); };
        pairs.append({decode(piece.left(eq)), decode(piece.mid(eq + 1))});
    }
    return pairs;
}

struct Harness {
    FakeClock clock;
    FakePostClient client;
    QueryRun run{&client.session, &clock};
    int rate = 10;
    QSignalSpy rowDone{&run, &QueryRun::rowDone};
    QSignalSpy paused{&run, &QueryRun::paused};
    QSignalSpy resumed{&run, &QueryRun::resumed};
    QSignalSpy finished{&run, &QueryRun::finished};
    QSignalSpy cellChanged{&run, &QueryRun::cellChanged};

    Harness() {
        // Every row answered: rows without a reply would soon hold the run with a question.
        client.answer = [](const FakePostClient::Request& r) {
            return r.url.path().endsWith(QLatin1String("ResouceInfo")) ? kResourceOk : kPowerOk;
        };
        run.setRateSource([this] { return rate; });
        run.setPauseTickMs(5);
        run.setOperatorBase(QUrl(u"http://127.0.0.1:9"_s));
    }
    int resourceRequests() const {
        int count = 0;
        for (int i = 0; i < client.requests.size(); ++i)
            count += client.isResource(i) ? 1 : 0;
        return count;
    }
    QString lastPause() const { return paused.isEmpty() ? QString() : paused.last().at(0).toString(); }
    QString message() const { return finished.isEmpty() ? QString() : finished.last().at(0).toString(); }
};

QString accounts(int count) {
    QStringList list;
    for (int i = 1; i <= count; ++i)
        list << u"2090000%1"_s.arg(i, 4, 10, QLatin1Char('0'));
    return list.join(u"\r\n"_s);
}

} // namespace

class TestQueryRun : public QObject {
    Q_OBJECT

private slots:
    void splitsAtCrLfAndTrims_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("blank line and trailing end") << u"a\r\n\r\nb\r\n"_s << QStringList{u"a"_s, u"b"_s};
        QTest::newRow("bare LF inside stays") << u"a\nb"_s << QStringList{u"a\nb"_s};
        QTest::newRow("bare CR inside stays") << u"a\rb\r\nc"_s << QStringList{u"a\rb"_s, u"c"_s};
        QTest::newRow("CR CR LF LF") << u"a\r\r\n\nb"_s << QStringList{u"a"_s, u"b"_s};
        QTest::newRow("blanks around and inside")
            << u"  209 1 \r\n\t20902\u3000"_s << QStringList{u"209 1"_s, u"20902"_s};
        QTest::newRow("blank-only lines") << u"a\r\n   \r\n\t\r\nb"_s << QStringList{u"a"_s, u"b"_s};
        QTest::newRow("duplicates") << u"a\r\na"_s << QStringList{u"a"_s, u"a"_s};
        QTest::newRow("only line ends") << u"\r\n\r\n"_s << QStringList{};
    }
    void splitsAtCrLfAndTrims() {
        QFETCH(QString, text);
        QFETCH(QStringList, rows);
        QCOMPARE(QueryRun::splitAccounts(text), rows);
    }

    void countdownText_data() {
        QTest::addColumn<qint64>("elapsed");
        QTest::addColumn<QString>("text");
        QTest::newRow("start") << qint64(0) << u"限速暂停中(60S）……"_s;
        QTest::newRow("second begun") << qint64(999) << u"限速暂停中(60S）……"_s;
        QTest::newRow("one second") << qint64(1000) << u"限速暂停中(59S）……"_s;
        QTest::newRow("last second") << qint64(59999) << u"限速暂停中(1S）……"_s;
        QTest::newRow("minute mark") << qint64(60000) << u"限速暂停中(60S）……"_s;
        QTest::newRow("third minute") << qint64(125500) << u"限速暂停中(55S）……"_s;
    }
    void countdownText() {
        QFETCH(qint64, elapsed);
        QFETCH(QString, text);
        QCOMPARE(QueryRun::countdownText(elapsed), text);
    }

    // No 60 seconds see more than rate row starts, those made before the run (another program's,
    // or before a restart) included; a start the clock puts ahead counts as made now.
    void paceCountsEarlierStarts_data() {
        QTest::addColumn<int>("rate");
        QTest::addColumn<QList<qint64>>("ages");
        QTest::addColumn<int>("row");
        QTest::addColumn<qint64>("wait");
        const QList<qint64> nine{0, 1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000};
        QTest::newRow("nine of ten in the last minute") << 10 << nine << 1 << qint64(0);
        QTest::newRow("ten, the oldest 50 s ago")
            << 10 << (QList<qint64>(nine) << 50000) << 1 << qint64(10000);
        QTest::newRow("ten, the oldest a minute less 1 ms ago")
            << 10 << (QList<qint64>(nine) << 59999) << 1 << qint64(1);
        QTest::newRow("ten, the oldest a minute ago")
            << 10 << (QList<qint64>(nine) << 60000) << 1 << qint64(0);
        QTest::newRow("ahead of the clock") << 1 << QList<qint64>{-5000} << 1 << qint64(60000);
        QTest::newRow("budget: row 11 at 10 a minute") << 10 << QList<qint64>{} << 11 << qint64(60000);
    }
    void paceCountsEarlierStarts() {
        QFETCH(int, rate);
        QFETCH(QList<qint64>, ages);
        QFETCH(int, row);
        QFETCH(qint64, wait);
        FakeClock clock;
        RatePace pace;
        pace.begin(clock.nowMs());
        pace.seed(clock.nowMs(), ages);
        QCOMPARE(pace.waitBeforeRow(rate, row, clock.nowMs()), wait);
    }

    void emptyTextStartsNothing() {
        Harness h;
        QVERIFY(h.run.start(u"a"_s));
        QTRY_COMPARE(h.finished.size(), 1);
        QSignalSpy built(&h.run, &QueryRun::rowsBuilt);
        QVERIFY(!h.run.start(QString()));
        QCOMPARE(built.size(), 0);
        QCOMPARE(h.run.rows().size(), 1); // the last run's rows stay
        QCOMPARE(QueryRun::emptyInputMessage(), u"请先输入要查询的209帐号，一行一个!"_s);
    }

    void onlyLineEndsEndsAtOnce() {
        Harness h;
        QSignalSpy built(&h.run, &QueryRun::rowsBuilt);
        QVERIFY(h.run.start(u"\r\n\r\n"_s));
        QCOMPARE(built.size(), 1);
        QCOMPARE(built.first().at(0).toInt(), 0);
        QCOMPARE(h.finished.size(), 0); // never from inside start()
        QTRY_COMPARE(h.message(), u"查询结束!"_s);
        QVERIFY(h.client.requests.isEmpty());
        QVERIFY(!h.run.isRunning());
    }

    // Rate 10, 25 rows: 1-10 at once, 11-20 from 60 s, 21-25 from 120 s, with the countdown.
    void rateBudgetAndCountdown() {
        Harness h;
        QVERIFY(h.run.start(accounts(25)));
        QTRY_VERIFY(h.run.isPaused());
        QCOMPARE(h.resourceRequests(), 10);
        QCOMPARE(h.rowDone.size(), 10);
        QCOMPARE(h.lastPause(), u"限速暂停中(60S）……"_s);

        for (int second = 1; second < 60; ++second) {
            h.clock.advance(1000);
            QTRY_COMPARE(h.lastPause(), QueryRun::countdownText(second * 1000));
            QCOMPARE(h.resourceRequests(), 10);
        }
        QCOMPARE(h.lastPause(), u"限速暂停中(1S）……"_s);
        h.clock.advance(999);
        QTest::qWait(30);
        QCOMPARE(h.resourceRequests(), 10);
        QVERIFY(h.resumed.isEmpty());

        h.clock.advance(1); // 60 s
        QTRY_COMPARE(h.resourceRequests(), 20);
        QCOMPARE(h.resumed.size(), 1);
        QTRY_VERIFY(h.run.isPaused());
        QCOMPARE(h.rowDone.size(), 20);

        h.clock.advance(60000); // 120 s
        QTRY_COMPARE(h.message(), u"查询结束!"_s);
        QCOMPARE(h.resourceRequests(), 25);
        QCOMPARE(h.resumed.size(), 2);
        QCOMPARE(h.rowDone.last().at(0).toInt(), 24);
    }

    void rateIsReadAtEveryCheck() {
        Harness h;
        QVERIFY(h.run.start(accounts(15)));
        QTRY_VERIFY(h.run.isPaused());
        h.rate = 20;
        QTRY_COMPARE(h.message(), u"查询结束!"_s);
        QCOMPARE(h.resourceRequests(), 15);
    }

    // Slow replies: by the time row 41 comes up (5 minutes in), the budget already allows 60.
    void runBehindBudgetDoesNotPause() {
        Harness h;
        h.client.answer = [&h](const FakePostClient::Request& r) {
            if (!r.url.path().endsWith(QLatin1String("ResouceInfo")))
                return kPowerOk;
            h.clock.advance(7500);
            return kResourceOk;
        };
        QVERIFY(h.run.start(accounts(60)));
        QTRY_COMPARE_WITH_TIMEOUT(h.message(), u"查询结束!"_s, 10000);
        QCOMPARE(h.resourceRequests(), 60);
        QCOMPARE(h.paused.size(), 0);
    }

    void stopDuringPause() {
        Harness h;
        QVERIFY(h.run.start(accounts(25)));
        QTRY_VERIFY(h.run.isPaused());
        h.run.stop();
        QVERIFY(h.run.stopRequested());
        QTRY_COMPARE(h.message(), u"已停止查询!"_s);
        QCOMPARE(h.resumed.size(), 1);
        QCOMPARE(h.resourceRequests(), 10);
        QCOMPARE(h.rowDone.size(), 10);
        QVERIFY(!h.run.isRunning());
    }

    // While the window asks a question the run starts no row and its pause stands still; the
    // lookup already under way still fills its row.
    void holdKeepsTheRunWhereItIs() {
        Harness h;
        h.rate = 1000;
        h.client.answer = [](const FakePostClient::Request& r) {
            return r.url.path().endsWith(QLatin1String("ResouceInfo")) ? kResourceOk : kPowerOk;
        };
        h.client.hold = [](const FakePostClient::Request&) { return true; };
        QVERIFY(h.run.start(accounts(3)));
        QTRY_COMPARE(h.client.requests.size(), 1);
        h.run.hold();
        h.run.hold();
        h.client.release(0);
        QTRY_COMPARE(h.client.requests.size(), 2);
        h.client.release(1);
        QTRY_COMPARE(h.rowDone.size(), 1);
        QTest::qWait(50);
        QCOMPARE(h.client.requests.size(), 2);
        h.run.release();
        QTest::qWait(50);
        QCOMPARE(h.client.requests.size(), 2); // still held once
        h.run.release();
        QTRY_COMPARE(h.client.requests.size(), 3);
        h.client.hold = [](const FakePostClient::Request&) { return false; };
        h.client.release(2);
        QTRY_COMPARE(h.message(), u"查询结束!"_s);
        QCOMPARE(h.rowDone.size(), 3);

        // A held pause stands still: the held minute does not count, so no burst follows it.
        Harness p;
        QVERIFY(p.run.start(accounts(11)));
        QTRY_VERIFY(p.run.isPaused());
        p.run.hold();
        p.clock.advance(60000);
        QTest::qWait(50);
        QCOMPARE(p.resourceRequests(), 10);
        QVERIFY(p.run.isPaused());
        p.run.release();
        QTest::qWait(50);
        QCOMPARE(p.resourceRequests(), 10);
        QCOMPARE(p.lastPause(), u"限速暂停中(60S）……"_s);
        p.clock.advance(60000);
        QTRY_COMPARE(p.message(), u"查询结束!"_s);
        QCOMPARE(p.resourceRequests(), 11);
    }

    // When rows start, on the fake clock moved a second at a time, around a wait of ten minutes
    // (held by a dialog, a sign-in, the three-failures question) or a slow server: the rows before
    // and after the wait, and no 60 seconds with more than rate starts.
    void paceHoldsAfterAWait_data() {
        QTest::addColumn<QString>("wait");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("row");    // 1-based; starts at `at`, the row before it at `before`
        QTest::addColumn<int>("before"); // seconds after the first row
        QTest::addColumn<int>("at");
        QTest::newRow("rows 1-31 at the default rate") << u"none"_s << 30 << 31 << 0 << 60;
        QTest::newRow("export dialog at 5 s") << u"hold"_s << 10 << 11 << 0 << 660;
        QTest::newRow("sign-in wait") << u"sign-in"_s << 10 << 11 << 600 << 660;
        QTest::newRow("three-failures question") << u"question"_s << 10 << 11 << 600 << 660;
        QTest::newRow("slow server recovers") << u"slow"_s << 10 << 16 << 300 << 360;
    }
    void paceHoldsAfterAWait() {
        QFETCH(QString, wait);
        QFETCH(int, rate);
        QFETCH(int, row);
        QFETCH(int, before);
        QFETCH(int, at);
        Harness h;
        h.rate = rate;
        h.run.setPauseTickMs(1);
        const qint64 t0 = h.clock.nowMs();
        QList<qint64> starts;
        QSet<QByteArray> seen;
        h.client.answer = [&](const FakePostClient::Request& r) {
            if (!r.url.path().endsWith(QLatin1String("ResouceInfo")))
                return kPowerOk;
            const bool first = !seen.contains(r.body);
            if (first) {
                seen.insert(r.body);
                starts << h.clock.nowMs() - t0;
            }
            const qsizetype n = starts.size();
            if (wait == u"slow"_s && n <= 5)
                h.clock.advance(60000);
            if (wait == u"sign-in"_s && n == 3 && first)
                return u"<html><form><input type=\"password\"></form></html>"_s;
            if (wait == u"question"_s && n <= 3)
                return QString();
            return kResourceOk;
        };
        int events = 0;
        for (auto signal : {&QueryRun::paused, &QueryRun::finished})
            connect(&h.run, signal, this, [&events] { ++events; });
        connect(&h.run, &QueryRun::sessionLost, this, [&events] { ++events; });
        connect(&h.run, &QueryRun::failureStreak, this, [&events] { ++events; });
        const auto settle = [&](int last) {
            QDeadlineTimer deadline(5000);
            while (events == last && !deadline.hasExpired())
                QTest::qWait(1);
            return events != last;
        };

        QVERIFY(h.run.start(accounts(row + 4)));
        QVERIFY(settle(0));
        bool held = false;
        for (int step = 0; h.run.isRunning() && step < 1000; ++step) {
            const int seenEvents = events;
            if (h.run.awaitsSignIn() || h.run.awaitsAnswer()) {
                h.clock.advance(600000);
                h.client.cookie.value = u"JSESSIONID=2"_s;
                h.run.awaitsSignIn() ? h.run.resumeSession() : h.run.continueAfterFailures();
            } else if (wait == u"hold"_s && !held && h.clock.nowMs() - t0 == 5000) {
                held = true;
                h.run.hold();
                h.clock.advance(600000);
                h.run.release();
                continue;
            } else {
                h.clock.advance(1000);
            }
            QVERIFY(settle(seenEvents));
        }
        QCOMPARE(h.message(), QueryRun::finishedMessage());
        QCOMPARE(starts.size(), row + 4);
        QCOMPARE(starts[row - 2], before * 1000);
        QCOMPARE(starts[row - 1], at * 1000);
        for (qsizetype i = 0; i + rate < starts.size(); ++i)
            QVERIFY2(starts[i + rate] - starts[i] >= 60000, qPrintable(QString::number(i)));
    }

    // A signed-in page on the refused session does not resume; a row refused again on a new one
    // fails and the run goes on.
    void signInAgainNeedsANewSession_data() {
        QTest::addColumn<bool>("refusedAgain");
        QTest::addColumn<int>("requests"); // resource lookups of the refused row
        QTest::newRow("answered on the new session") << false << 2;
        QTest::newRow("refused on the new session too") << true << 2;
    }
    void signInAgainNeedsANewSession() {
        QFETCH(bool, refusedAgain);
        QFETCH(int, requests);
        Harness h;
        h.rate = 1000;
        const QByteArray refusedBody = QueryRun::resourceBody({u"20900000002"_s});
        int asked = 0;
        h.client.answer = [&](const FakePostClient::Request& r) {
            if (r.body == refusedBody && (++asked == 1 || refusedAgain))
                return u"<html><form><input type=\"password\"></form></html>"_s;
            return r.url.path().endsWith(QLatin1String("ResouceInfo")) ? kResourceOk : kPowerOk;
        };
        QSignalSpy lost(&h.run, &QueryRun::sessionLost);
        QVERIFY(h.run.start(accounts(3)));
        QTRY_COMPARE(lost.size(), 1);
        h.run.resumeSession();
        QTest::qWait(50);
        QVERIFY(h.run.awaitsSignIn());
        QCOMPARE(asked, 1);
        h.client.cookie.value = u"JSESSIONID=2"_s;
        h.run.resumeSession();
        QTRY_COMPARE(h.message(), QueryRun::finishedMessage());
        QCOMPARE(asked, requests);
        QCOMPARE(lost.size(), 1);
        QCOMPARE(h.run.failureReason(1), refusedAgain ? u"登录已失效"_s : QString());
        QCOMPARE(h.run.rows()[2][QueryRun::OnuAccept], u"-21.53"_s);
    }

    // A run goes on from saved rows: finished ones stay as they were, the others are asked in
    // order, and each finished row is reported whole.
    void resumeRunsOnlyUnfinishedRows() {
        Harness h;
        QList<QueryRun::SavedRow> saved(4);
        for (int i = 0; i < 4; ++i)
            saved[i].cells[QueryRun::Account] = u"2090000000%1"_s.arg(i + 1);
        saved[0].cells[QueryRun::Result] = u"成功"_s;
        saved[0].finished = saved[1].finished = true;
        saved[1].failure = u"HTTP 500"_s;
        saved[2].cells[QueryRun::Result] = u"资源查询成功"_s; // in flight when the run ended
        QSignalSpy started(&h.run, &QueryRun::started);
        QSignalSpy rowFinished(&h.run, &QueryRun::rowFinished);
        QSignalSpy ended(&h.run, &QueryRun::ended);
        QVERIFY(h.run.resume(saved));
        QTRY_COMPARE(h.message(), QueryRun::finishedMessage());
        QCOMPARE(started.first().at(0).toInt(), 4);
        QCOMPARE(h.resourceRequests(), 2);
        QCOMPARE(h.client.requests[0].body, QByteArray("no209=20900000003"));
        QCOMPARE(h.rowDone.last().at(1).toInt(), 4);
        QCOMPARE(rowFinished.size(), 2);
        QCOMPARE(rowFinished[0].at(0).toInt(), 2);
        QCOMPARE(rowFinished[1].at(1).toStringList(),
                 (QStringList{u"20900000004"_s, u"成功"_s, u"-21.53"_s, u"2.5"_s, u"-23.47"_s, u"3.21"_s,
                              u"广州天河EMS"_s, u"10.1.2.3"_s, u"0/1/3"_s, u"GZ001"_s, u"天河-1:8-03"_s}));
        QCOMPARE(rowFinished[1].at(2).toBool(), false);
        QCOMPARE(ended.first().at(0).toBool(), false);
        QCOMPARE(cells(h.run.rows()[0]), cells(saved[0].cells));
        QCOMPARE(h.run.failureReason(1), u"HTTP 500"_s);
        QVERIFY(h.run.isDone(0));
        QVERIFY(!h.run.isDone(1));
    }

    void stopDuringLookupFinishesThatAccount_data() {
        QTest::addColumn<int>("rowCount");
        QTest::addColumn<int>("heldRow");
        QTest::newRow("middle row") << 5 << 3;
        QTest::newRow("last row") << 3 << 3;
    }
    void stopDuringLookupFinishesThatAccount() {
        QFETCH(int, rowCount);
        QFETCH(int, heldRow);
        Harness h;
        h.rate = 1000;
        h.client.answer = [&h](const FakePostClient::Request& r) {
            return r.url.path().endsWith(QLatin1String("ResouceInfo")) ? kResourceOk : kPowerOk;
        };
        const QByteArray heldBody =
            QueryRun::resourceBody({u"2090000%1"_s.arg(heldRow, 4, 10, QLatin1Char('0'))});
        h.client.hold = [heldBody](const FakePostClient::Request& r) { return r.body == heldBody; };
        QVERIFY(h.run.start(accounts(rowCount)));
        QTRY_COMPARE(h.client.requests.size(), 2 * (heldRow - 1) + 1);
        QVERIFY(h.run.isDone(heldRow - 2));
        QVERIFY(!h.run.isDone(heldRow - 1));
        h.run.stop();
        h.client.release(int(h.client.requests.size()) - 1);
        QTRY_COMPARE(h.message(), u"已停止查询!"_s);
        // The account under way got both its lookups; no later one started.
        QCOMPARE(h.client.requests.size(), 2 * heldRow);
        QCOMPARE(h.rowDone.size(), heldRow);
        QCOMPARE(h.run.rows().at(heldRow - 1)[QueryRun::OnuAccept], u"-21.53"_s);
        QVERIFY(h.run.isDone(heldRow - 1));
        QVERIFY(!h.run.isDone(heldRow)); // never reached, or past the end
    }

    void cellRules_data() {
        QTest::addColumn<QString>("resource");
        QTest::addColumn<QString>("power");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<bool>("powerAsked");

        const QString acct = u"209"_s;
        const QString res = u"资源查询成功"_s;
        const QStringList resourceCells{u"广州天河EMS"_s, u"10.1.2.3"_s, u"0/1/3"_s, u"GZ001"_s,
                                        u"天河-1:8-03"_s};
        auto row = [&](const QString& result, const QStringList& power, const QStringList& resource) {
            return QStringList{acct, result} + power + resource;
        };
        const QStringList noPower{{}, {}, {}, {}};
        const QStringList fullPower{u"-21.53"_s, u"2.5"_s, u"-23.47"_s, u"3.21"_s};
        const QStringList noResource{{}, {}, {}, {}, {}};

        QTest::newRow("full") << kResourceOk << kPowerOk << row(u"成功"_s, fullPower, resourceCells) << true;
        QTest::newRow("no resource reply") << QString() << kPowerOk << row({}, noPower, noResource) << false;
        QTest::newRow("resource not JSON")
            << u"<html><body>500</body></html>"_s << kPowerOk << row({}, noPower, noResource) << false;
        QTest::newRow("resource array")
            << u"[{\"rmw_test_desc\":\"x\"}]"_s << kPowerOk << row({}, noPower, noResource) << false;
        for (const char* desc : {"\"\"", "null"}) {
            QTest::addRow("rmw_test_desc %s", desc)
                << QString(kResourceOk).replace(u"\"资源查询成功\""_s, QString::fromLatin1(desc)) << kPowerOk
                << row({}, noPower, noResource) << false;
        }
        QTest::newRow("rmw_test_desc missing") << u"{\"rmw_ems\":\"E\",\"rmw_olt_ip\":\"1.1.1.1\"}"_s
                                               << kPowerOk << row({}, noPower, noResource) << false;
        QTest::newRow("resource members null or missing")
            << u"{\"rmw_test_desc\":\"ok\",\"rmw_ems\":null,\"rmw_olt_ip\":\"10.1.2.3\",\"rmw_olt_pon\":7}"_s
            << kPowerOk << row(u"成功"_s, fullPower, {{}, u"10.1.2.3"_s, u"7"_s, {}, {}}) << true;
        QTest::newRow("no power reply")
            << kResourceOk << QString() << row(res, noPower, resourceCells) << true;
        QTest::newRow("power not JSON")
            << kResourceOk << u"系统繁忙"_s << row(res, noPower, resourceCells) << true;
        QTest::newRow("test_desc empty") << kResourceOk << QString(kPowerOk).replace(u"\"成功\""_s, u"\"\""_s)
                                         << row({}, noPower, resourceCells) << true;
        QTest::newRow("test_desc null") << kResourceOk << QString(kPowerOk).replace(u"\"成功\""_s, u"null"_s)
                                        << row(res, fullPower, resourceCells) << true;
        QTest::newRow("test_desc missing")
            << kResourceOk << u"{\"olt_send\":3.21,\"onu_accept\":-21.5}"_s
            << row(res, {u"-21.5"_s, {}, {}, u"3.21"_s}, resourceCells) << true;
        QTest::newRow("olt_send null")
            << kResourceOk << QString(kPowerOk).replace(u"\"olt_send\":3.21"_s, u"\"olt_send\":null"_s)
            << row(u"成功"_s, noPower, resourceCells) << true;
        QTest::newRow("olt_send missing")
            << kResourceOk << QString(kPowerOk).remove(u"\"olt_send\":3.21,"_s)
            << row(u"成功"_s, {u"-21.53"_s, u"2.5"_s, u"-23.47"_s, {}}, resourceCells) << true;
        QTest::newRow("onu_send null")
            << kResourceOk << QString(kPowerOk).replace(u"\"onu_send\":2.5"_s, u"\"onu_send\":null"_s)
            << row(u"成功"_s, {u"-21.53"_s, {}, u"-23.47"_s, u"3.21"_s}, resourceCells) << true;
        QTest::newRow("readings as text and integers")
            << kResourceOk
            << u"{\"test_desc\":\"成功\",\"olt_send\":\"3\",\"onu_send\":3,\"olt_accept\":-21.50,\"onu_accept\":0}"_s
            << row(u"成功"_s, {u"0"_s, u"3"_s, u"-21.5"_s, u"3"_s}, resourceCells) << true;
    }
    void cellRules() {
        QFETCH(QString, resource);
        QFETCH(QString, power);
        QFETCH(QStringList, expected);
        QFETCH(bool, powerAsked);
        Harness h;
        h.client.answer = [&](const FakePostClient::Request& r) {
            return r.url.path().endsWith(QLatin1String("ResouceInfo")) ? resource : power;
        };
        QVERIFY(h.run.start(u"209\r\n"_s));
        QTRY_COMPARE(h.message(), u"查询结束!"_s);
        QCOMPARE(cells(h.run.rows().at(0)), expected);
        QCOMPARE(h.client.requests.size(), powerAsked ? 2 : 1);
        QCOMPARE(h.client.requests.at(0).url.query(), u"testType=2"_s);

        // The window sees the same row through the signals.
        QStringList shown(QueryRun::kColumnCount);
        shown[0] = u"209"_s;
        for (const QList<QVariant>& change : h.cellChanged) {
            QCOMPARE(change.at(0).toInt(), 0);
            shown[change.at(1).toInt()] = change.at(2).toString();
        }
        QCOMPARE(shown, expected);

        if (powerAsked) {
            const auto fields = decodeForm(h.client.requests.at(1).body);
            QCOMPARE(fields.size(), 5);
            const int sources[] = {0, 6, 7, 8, 9};
            const char* keys[] = {"no209", "rmwEms", "rmwOltIp", "rmwOltPon", "rmwLoid"};
            for (int i = 0; i < 5; ++i) {
                QCOMPARE(fields.at(i).first, QString::fromLatin1(keys[i]));
                QCOMPARE(fields.at(i).second, expected.at(sources[i]));
            }
        }
    }

    void bodiesDecodeToTheCells_data() {
        QTest::addColumn<QString>("account");
        QTest::addColumn<QString>("ems");
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QString>("pon");
        QTest::addColumn<QString>("loid");
        QTest::newRow("plain") << u"20912345678"_s << u"广州天河EMS"_s << u"10.1.2.3"_s << u"0/1/3"_s
                               << u"GZ1"_s;
        QTest::newRow("field separators")
            << u"209&rmwEms=x"_s << u"A&B=C"_s << u"1.1.1.1&x=1"_s << u"a=b"_s << u"&"_s;
        QTest::newRow("plus percent blank") << u" 209 "_s << u"1+2%"_s << u"%41"_s << u"+"_s << u"a b"_s;
        QTest::newRow("line breaks") << u"209\n210"_s << u"\r"_s << QString() << QString() << u"\r\n"_s;
        QTest::newRow("empty values") << u"209"_s << QString() << QString() << QString() << QString();
    }
    void bodiesDecodeToTheCells() {
        QFETCH(QString, account);
        QFETCH(QString, ems);
        QFETCH(QString, ip);
        QFETCH(QString, pon);
        QFETCH(QString, loid);
        QueryRun::Row row;
        row[QueryRun::Account] = account;
        row[QueryRun::Ems] = ems;
        row[QueryRun::OltIp] = ip;
        row[QueryRun::OltPon] = pon;
        row[QueryRun::Loid] = loid;
        row[QueryRun::SplitterName] = u"not sent"_s;

        const QByteArray resource = QueryRun::resourceBody(row);
        QVERIFY(resource.startsWith("no209="));
        QCOMPARE(decodeForm(resource), (QList<QPair<QString, QString>>{{u"no209"_s, account}}));

        const QByteArray power = QueryRun::powerBody(row);
        const QList<QPair<QString, QString>> expected{{u"no209"_s, account},
                                                      {u"rmwEms"_s, ems},
                                                      {u"rmwOltIp"_s, ip},
                                                      {u"rmwOltPon"_s, pon},
                                                      {u"rmwLoid"_s, loid}};
        QCOMPARE(decodeForm(power), expected);
        // A server that parses the body its own way agrees.
        const QUrlQuery query(QString::fromLatin1(power));
        QCOMPARE(query.queryItems(QUrl::FullyDecoded).size(), 5);
        QCOMPARE(query.queryItemValue(u"rmwEms"_s, QUrl::FullyDecoded), ems);
    }

    void powerBodyIsExact() {
        QueryRun::Row row;
        row[QueryRun::Account] = u"209 1"_s;
        row[QueryRun::Ems] = u"南海&1"_s;
        row[QueryRun::OltIp] = u"10.0.0.1"_s;
        QCOMPARE(
            QueryRun::powerBody(row),
            QByteArray("no209=209%201&rmwEms=%E5%8D%97%E6%B5%B7%261&rmwOltIp=10.0.0.1&rmwOltPon=&rmwLoid="));
    }

    // How one reply counts, the same for either lookup.
    void replyOutcome_data() {
        QTest::addColumn<PostReply>("reply");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("reason");
        const auto reply = [](int status, const QString& text, net::Error error = net::Error::None) {
            PostReply r;
            r.text = text;
            r.result.status = status;
            r.result.error = error;
            r.result.finalUrl = QUrl(u"http://127.0.0.1:9/ehmsexp/rest/install/queryPowerInfo?testType=2"_s);
            return r;
        };
        const int read = int(lookup::Outcome::Read);
        const int none = int(lookup::Outcome::NoUsableReply);
        const int lost = int(lookup::Outcome::SessionLost);
        const QString page = u"<html><body><form><input name=\"u\"><input id=\"p\" type=\"password\" "
                             "name=\"password\"></form></body></html>"_s;
        for (const net::Error error :
             {net::Error::Timeout, net::Error::ConnectionClosed, net::Error::TooLarge}) {
            const PostReply r = reply(0, QString(), error);
            QTest::addRow("failed exchange %d", int(error)) << r << none << describeHttp(r.result);
        }
        const PostReply serverError = reply(500, u"<html><body>500</body></html>"_s);
        QTest::newRow("HTTP 500 page") << serverError << none << describeHttp(serverError.result);
        QTest::newRow("HTTP 500 with an object") << reply(500, kPowerOk) << read << QString();
        QTest::newRow("empty") << reply(200, QString()) << none << describeReply(ReplyProblem::Empty);
        QTest::newRow("blanks and a line end")
            << reply(200, u" \r\n"_s) << none << describeReply(ReplyProblem::Empty);
        QTest::newRow("one character") << reply(200, u"x"_s) << none << describeReply(ReplyProblem::NotJson);
        QTest::newRow("smallest object") << reply(200, u"{}"_s) << read << QString();
        QTest::newRow("not JSON") << reply(200, u"系统繁忙"_s) << none
                                  << describeReply(ReplyProblem::NotJson);
        QTest::newRow("array") << reply(200, u"[1]"_s) << none << describeReply(ReplyProblem::NotJson);
        const QString signIn = describeReply(ReplyProblem::SignInPage);
        QTest::newRow("sign-in page") << reply(200, page) << lost << signIn;
        PostReply redirected = reply(200, page);
        redirected.result.finalUrl = QUrl(u"http://127.0.0.1:9/ehmsexp/jsp/login/login.jsp"_s);
        QTest::newRow("sign-in page after a redirect") << redirected << lost << signIn;
        QTest::newRow("sign-in page with status 401") << reply(401, page) << lost << signIn;
        QTest::newRow("upper case, single quotes")
            << reply(200, u"<HTML><INPUT TYPE='PASSWORD' NAME=pw></HTML>"_s) << lost << signIn;
        QTest::newRow("password text field is no sign-in page")
            << reply(200, u"<html><input type=\"text\" name=\"password\"></html>"_s) << none
            << describeReply(ReplyProblem::NotJson);
        QTest::newRow("sign-in markup inside a JSON member")
            << reply(200, u"{\"rmw_test_desc\":\"<input type=password>\",\"test_desc\":\"ok\"}"_s) << read
            << QString();
    }
    void replyOutcome() {
        QFETCH(PostReply, reply);
        QFETCH(int, outcome);
        QFETCH(QString, reason);
        QueryRun::Row row;
        row[QueryRun::Account] = u"209"_s;
        for (const lookup::Step& step : {lookup::resourceReply(row, reply), lookup::powerReply(row, reply)}) {
            QCOMPARE(int(step.outcome), outcome);
            QCOMPARE(step.reason, reason);
            if (step.outcome != lookup::Outcome::Read) {
                QCOMPARE(cells(step.row), cells(row));
                QVERIFY(!step.powerFollows);
            }
        }
    }

    // x: the row's resource lookup gets no usable reply; o: a full answer.
    void failureStreakHolds_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<bool>("goOn");
        QTest::addColumn<QList<int>>("heldAfter"); // resource requests made when each hold came
        QTest::addColumn<int>("requests");
        QTest::newRow("yes goes on") << u"xxxoo"_s << true << QList<int>{3} << 5;
        QTest::newRow("stop while held ends") << u"xxxoo"_s << false << QList<int>{3} << 3;
        QTest::newRow("asked again after three more") << u"xxxxxxo"_s << true << QList<int>{3, 6} << 7;
        QTest::newRow("a reply breaks the streak") << u"xxoxxo"_s << true << QList<int>{} << 6;
        QTest::newRow("no question after the last row") << u"xxx"_s << true << QList<int>{} << 3;
    }
    void failureStreakHolds() {
        QFETCH(QString, pattern);
        QFETCH(bool, goOn);
        QFETCH(QList<int>, heldAfter);
        QFETCH(int, requests);
        Harness h;
        h.rate = 1000;
        h.client.answer = [&h, pattern](const FakePostClient::Request& r) {
            if (!r.url.path().endsWith(QLatin1String("ResouceInfo")))
                return kPowerOk;
            return pattern.at(h.resourceRequests() - 1) == QLatin1Char('x') ? QString() : kResourceOk;
        };
        QSignalSpy streak(&h.run, &QueryRun::failureStreak);
        QList<int> held;
        connect(&h.run, &QueryRun::failureStreak, this, [&] {
            held << h.resourceRequests();
            QVERIFY(h.run.awaitsAnswer());
            if (goOn)
                h.run.continueAfterFailures();
            else
                h.run.stop();
        });
        QVERIFY(h.run.start(accounts(int(pattern.size()))));
        QTRY_VERIFY(!h.run.isRunning());
        QCOMPARE(held, heldAfter);
        QCOMPARE(h.resourceRequests(), requests);
        QCOMPARE(h.message(), goOn ? QueryRun::finishedMessage() : QueryRun::stoppedMessage());
        QCOMPARE(h.run.failedRowCount(), int(pattern.count(QLatin1Char('x'))));
    }

    // The lookup that met the sign-in page is asked again, once, after the new sign-in; no row is
    // skipped or done twice. Stop while held ends the run with that row failed.
    void sessionLostHoldsTheRow_data() {
        QTest::addColumn<bool>("atPower");
        QTest::addColumn<bool>("resume");
        QTest::newRow("resource lookup, signed in again") << false << true;
        QTest::newRow("power lookup, signed in again") << true << true;
        QTest::newRow("resource lookup, stopped") << false << false;
        QTest::newRow("power lookup, stopped") << true << false;
    }
    void sessionLostHoldsTheRow() {
        QFETCH(bool, atPower);
        QFETCH(bool, resume);
        Harness h;
        h.rate = 1000;
        bool served = false;
        const QByteArray lostBody = QueryRun::resourceBody({u"20900000002"_s});
        h.client.answer = [&](const FakePostClient::Request& r) {
            const bool resource = h.client.isResource(int(h.client.requests.size()) - 1);
            if (!served && r.body.startsWith(lostBody) && resource != atPower) {
                served = true;
                return u"<html><form><input type=\"password\"></form></html>"_s;
            }
            return resource ? kResourceOk : kPowerOk;
        };
        QSignalSpy lost(&h.run, &QueryRun::sessionLost);
        QVERIFY(h.run.start(accounts(3)));
        QTRY_COMPARE(lost.size(), 1);
        QCOMPARE(lost.first().at(0).toInt(), 1);
        QVERIFY(h.run.awaitsSignIn());
        const qsizetype sent = h.client.requests.size();
        QTest::qWait(50);
        QCOMPARE(h.client.requests.size(), sent);
        QCOMPARE(h.rowDone.size(), 1);

        if (resume) {
            h.client.cookie.value = u"JSESSIONID=2"_s;
            h.run.resumeSession();
            QTRY_COMPARE(h.message(), QueryRun::finishedMessage());
            // The held request again, then the rest in order.
            QCOMPARE(h.client.requests.at(sent).body, h.client.requests.at(sent - 1).body);
            QCOMPARE(h.client.requests.size(), sent + (atPower ? 3 : 4));
            QList<int> done;
            for (const auto& signal : std::as_const(h.rowDone))
                done << signal.at(0).toInt();
            QCOMPARE(done, (QList<int>{0, 1, 2}));
            for (const QueryRun::Row& row : h.run.rows())
                QCOMPARE(row[QueryRun::OnuAccept], u"-21.53"_s);
            QCOMPARE(h.run.failedRowCount(), 0);
        } else {
            h.run.stop();
            QTRY_COMPARE(h.message(), QueryRun::stoppedMessage());
            QCOMPARE(h.client.requests.size(), sent);
            QCOMPARE(h.run.failureReason(1), describeReply(ReplyProblem::SignInPage));
            QVERIFY(h.run.rows()[2][1].isEmpty());
        }
    }

    // Retry works through the failed rows only, in place and in order, paced like any run.
    void retryRunsOnlyTheFailedRows() {
        Harness h;
        h.rate = 1000;
        QSet<QByteArray> failOnce{QueryRun::resourceBody({u"20900000002"_s}),
                                  QueryRun::resourceBody({u"20900000004"_s}),
                                  QueryRun::resourceBody({u"20900000005"_s})};
        h.client.answer = [&](const FakePostClient::Request& r) {
            if (failOnce.remove(r.body))
                return u"系统繁忙"_s;
            return r.url.path().endsWith(QLatin1String("ResouceInfo")) ? kResourceOk : kPowerOk;
        };
        QVERIFY(h.run.start(accounts(5)));
        QTRY_VERIFY(!h.run.isRunning());
        QCOMPARE(h.run.failedRowCount(), 3);
        const QList<QueryRun::Row> before = h.run.rows();

        h.rate = 1;
        h.client.requests.clear();
        QSignalSpy started(&h.run, &QueryRun::started);
        QVERIFY(h.run.retryFailed());
        QCOMPARE(started.first().at(0).toInt(), 3);
        // One row a minute, the first after the minute of the last run's starts.
        QTRY_VERIFY(h.run.isPaused());
        for (int minute = 1; minute <= 3; ++minute) {
            h.clock.advance(60000);
            QTRY_COMPARE(h.resourceRequests(), minute);
        }
        QTRY_VERIFY(!h.run.isRunning());
        QCOMPARE(h.message(), QueryRun::finishedMessage());
        QStringList asked;
        for (int i = 0; i < h.client.requests.size(); ++i) {
            if (h.client.isResource(i))
                asked << QString::fromLatin1(h.client.requests[i].body);
        }
        QCOMPARE(asked,
                 (QStringList{u"no209=20900000002"_s, u"no209=20900000004"_s, u"no209=20900000005"_s}));
        QCOMPARE(h.run.failedRowCount(), 0);
        QCOMPARE(h.run.rows()[0], before[0]);
        QCOMPARE(h.run.rows()[2], before[2]);
        for (const int retried : {1, 3, 4}) {
            QCOMPARE(h.run.rows()[retried][QueryRun::Account], before[retried][QueryRun::Account]);
            for (int column = 1; column < QueryRun::kColumnCount; ++column)
                QCOMPARE(h.run.rows()[retried][column], before[0][column]);
        }
        QVERIFY(!h.run.retryFailed());
    }

    void thresholds_data() {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("reading");
        QTest::addColumn<bool>("weak");
        const QByteArray none;
        const QByteArray custom = "[Thresholds]\r\nOntRxMin=-25\r\nOntRxMax=-10\r\nOltRxMin=-30\r\n";
        const int ont = QueryRun::OnuAccept, olt = QueryRun::OltAccept;
        QTest::newRow("default ONT below") << none << ont << u"-27.01"_s << true;
        QTest::newRow("default ONT at the edge") << none << ont << u"-27"_s << false;
        QTest::newRow("default ONT above") << none << ont << u"-7.99"_s << true;
        QTest::newRow("default ONT at the top") << none << ont << u"-8"_s << false;
        QTest::newRow("default OLT below") << none << olt << u"-28.5"_s << true;
        QTest::newRow("default OLT inside") << none << olt << u"-27.5"_s << false;
        QTest::newRow("send columns never") << none << int(QueryRun::OnuSend) << u"-40"_s << false;
        QTest::newRow("not a number") << none << ont << u"-"_s << false;
        QTest::newRow("empty") << none << ont << QString() << false;
        QTest::newRow("nan") << none << ont << u"nan"_s << false;
        QTest::newRow("infinity") << none << ont << u"-inf"_s << false;
        QTest::newRow("units") << none << ont << u"-30dBm"_s << false;
        QTest::newRow("INI ONT low") << custom << ont << u"-26"_s << true;
        QTest::newRow("INI ONT high") << custom << ont << u"-9"_s << true;
        QTest::newRow("INI OLT low, default high") << custom << olt << u"-29"_s << false;
        QTest::newRow("INI OLT default high") << custom << olt << u"-7"_s << true;
        QTest::newRow("INI value not a number keeps the default")
            << QByteArray("[Thresholds]\r\nOntRxMin=abc\r\n") << ont << u"-27.5"_s << true;
        QTest::newRow("INI window upside down keeps the defaults")
            << QByteArray("[Thresholds]\r\nOntRxMin=-5\r\nOntRxMax=-30\r\n") << ont << u"-27.5"_s << true;
    }
    void thresholds() {
        QFETCH(QByteArray, ini);
        QFETCH(int, column);
        QFETCH(QString, reading);
        QFETCH(bool, weak);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"vesmora.ini"_s);
        if (!ini.isNull()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(ini);
        }
        QCOMPARE(Thresholds::fromIni(path).isWeak(column, reading), weak);
    }
};

QTEST_GUILESS_MAIN(TestQueryRun)
#include "tst_query_run.moc"
