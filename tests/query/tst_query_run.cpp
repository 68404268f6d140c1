#include "FakeClock.h"
#include "FakePostClient.h"
#include "query/QueryRun.h"

#include <QSignalSpy>
#include <QTest>
#include <QUrlQuery>

using namespace Qt::StringLiterals;

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
    void splitsAtCrLfOnly_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("blank line and trailing end") << u"a\r\n\r\nb\r\n"_s << QStringList{u"a"_s, u"b"_s};
        QTest::newRow("bare LF stays") << u"a\nb"_s << QStringList{u"a\nb"_s};
        QTest::newRow("bare CR stays") << u"a\rb\r\nc"_s << QStringList{u"a\rb"_s, u"c"_s};
        QTest::newRow("CR CR LF LF") << u"a\r\r\n\nb"_s << QStringList{u"a\r"_s, u"\nb"_s};
        QTest::newRow("blanks kept") << u"  209 1 \r\n   "_s << QStringList{u"  209 1 "_s, u"   "_s};
        QTest::newRow("duplicates") << u"a\r\na"_s << QStringList{u"a"_s, u"a"_s};
        QTest::newRow("only line ends") << u"\r\n\r\n"_s << QStringList{};
    }
    void splitsAtCrLfOnly() {
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
        h.client.answer = [&h](const FakePostClient::Request&) {
            h.clock.advance(7500);
            return QString();
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

        // A held pause: the budget grows, but nothing moves until the hold ends.
        Harness p;
        QVERIFY(p.run.start(accounts(11)));
        QTRY_VERIFY(p.run.isPaused());
        p.run.hold();
        p.clock.advance(60000);
        QTest::qWait(50);
        QCOMPARE(p.resourceRequests(), 10);
        QVERIFY(p.run.isPaused());
        p.run.release();
        QTRY_COMPARE(p.message(), u"查询结束!"_s);
        QCOMPARE(p.resourceRequests(), 11);
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
        h.run.stop();
        h.client.release(int(h.client.requests.size()) - 1);
        QTRY_COMPARE(h.message(), u"已停止查询!"_s);
        // The account under way got both its lookups; no later one started.
        QCOMPARE(h.client.requests.size(), 2 * heldRow);
        QCOMPARE(h.rowDone.size(), heldRow);
        QCOMPARE(h.run.rows().at(heldRow - 1)[QueryRun::OnuAccept], u"-21.53"_s);
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
};

QTEST_GUILESS_MAIN(TestQueryRun)
#include "tst_query_run.moc"
