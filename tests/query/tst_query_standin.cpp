#include "StandinHttp.h"
#include "common/NetworkTransport.h"
#include "query/QueryRun.h"
#include "query/SessionPostClient.h"
#include "support/StandinServer.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QString kResourcePath = u"/ehmsexp/rest/install/queryRmwResouceInfo"_s;
const QString kPowerPath = u"/ehmsexp/rest/install/queryPowerInfo"_s;
const QString kRes = u"资源查询成功"_s;
const QString kOk = u"成功"_s;

// A cell expectation: "*" any non-empty text, "~re" a pattern, anything else exactly that text.
void compareCell(const QString& actual, const QString& expected, int column) {
    const QByteArray where = "column " + QByteArray::number(column) + ": " + actual.left(80).toUtf8();
    if (expected == u"*"_s)
        QVERIFY2(!actual.isEmpty(), where.constData());
    else if (expected.startsWith(QLatin1Char('~')))
        QVERIFY2(QRegularExpression(expected.mid(1)).match(actual).hasMatch(), where.constData());
    else
        QVERIFY2(actual == expected, where.constData());
}

QStringList expectedRow(const QString& result, const QStringList& power, const QStringList& resource) {
    return QStringList{QString(), result} + power + resource;
}

const QStringList kReadings{u"~^-?\\d+(\\.\\d+)?$"_s, u"~^-?\\d+(\\.\\d+)?$"_s, u"~^-?\\d+(\\.\\d+)?$"_s,
                            u"~^-?\\d+(\\.\\d+)?$"_s};
const QStringList kNoPower{{}, {}, {}, {}};
const QStringList kResource{u"~^广州.+EMS$"_s, u"~^10\\.\\d+\\.\\d+\\.\\d+$"_s, u"~^0/\\d+/\\d+$"_s, u"*"_s,
                            u"~^.+-\\d:8-\\d\\d$"_s};
const QStringList kNoResource{{}, {}, {}, {}, {}};

struct Case {
    QString account;
    QStringList expected;
    bool powerAsked;
};

QList<Case> cases() {
    QList<Case> list{
        {u"20912345678"_s, expectedRow(kOk, kReadings, kResource), true},
        {u"  209 测试 "_s, expectedRow(kOk, kReadings, kResource), true},
        {u"res-slow-1"_s, expectedRow(kOk, kReadings, kResource), true},
        {u"res-huge"_s, expectedRow(kOk, kReadings, kResource), true},
        {u"res-special"_s,
         expectedRow(kOk, kReadings,
                     {u"佛山&南海 EMS=1+2%"_s, u"10.0.0.1&x=1"_s, u"0/1/3 "_s, u"LOID+100%"_s,
                      u"南海-1:8-03 #A&B"_s}),
         true},
        {u"res-badutf8"_s,
         expectedRow(kOk, kReadings, {kResource[0], kResource[1], kResource[2], u"*"_s, u"~\uFFFD"_s}), true},
        {u"res-null"_s, expectedRow(kOk, kReadings, kNoResource), true},
        {u"res-missing"_s, expectedRow(kOk, kReadings, kNoResource), true},
        {u"pow-slow-1"_s, expectedRow(kOk, kReadings, kResource), true},
        {u"pow-huge"_s, expectedRow(kOk, kReadings, kResource), true},
        {u"pow-null-desc"_s, expectedRow(kRes, kReadings, kResource), true},
        {u"pow-missing-desc"_s, expectedRow(kRes, kReadings, kResource), true},
        {u"pow-empty-desc"_s, expectedRow(QString(), kNoPower, kResource), true},
        {u"pow-null"_s, expectedRow(kOk, kNoPower, kResource), true},
        {u"pow-missing"_s, expectedRow(kOk, kNoPower, kResource), true},
        {u"pow-null-olt-send"_s, expectedRow(kOk, kNoPower, kResource), true},
        {u"pow-missing-olt-send"_s,
         expectedRow(kOk, {kReadings[0], kReadings[1], kReadings[2], QString()}, kResource), true},
        {u"pow-null-onu-send"_s,
         expectedRow(kOk, {kReadings[0], QString(), kReadings[2], kReadings[3]}, kResource), true},
        {u"pow-text-readings"_s, expectedRow(kOk, kReadings, kResource), true},
        {u"pow-offline"_s, expectedRow(u"光猫不在线"_s, kNoPower, kResource), true},
        {u"pow-badutf8"_s, expectedRow(u"成功\uFFFD"_s, kReadings, kResource), true},
    };
    for (const QString& fault : {u"noreply"_s, u"500"_s, u"empty"_s, u"notjson"_s, u"array"_s})
        list.append({u"pow-"_s + fault, expectedRow(kRes, kNoPower, kResource), true});
    for (const QString& fault : {u"noreply"_s, u"500"_s, u"empty"_s, u"notjson"_s, u"array"_s})
        list.append({u"res-"_s + fault, expectedRow(QString(), kNoPower, kNoResource), false});
    for (const QString& fault : {u"empty-desc"_s, u"null-desc"_s, u"missing-desc"_s})
        list.append({u"res-"_s + fault, expectedRow(QString(), kNoPower, kNoResource), false});
    return list;
}

QString decodeForm(const QString& value) {
    return QUrl::fromPercentEncoding(value.toLatin1().replace('+', ' '));
}

} // namespace

class TestQueryStandin : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<StandinServer> m_server;
    QString m_cookie;
    QList<QueryRun::Row> m_rows;
    QString m_message;

    QList<QJsonObject> lookupsOf(const QString& path, const QString& account) const {
        QList<QJsonObject> found;
        for (const QJsonObject& entry : m_server->requests(path)) {
            const QString body = entry[u"body"_s].toString();
            const QString first = body.section(QLatin1Char('&'), 0, 0);
            if (decodeForm(first.section(QLatin1Char('='), 1)) == account)
                found << entry;
        }
        return found;
    }

private slots:
    // One run over every case against the stand-in; the slots below read what it left.
    void initTestCase() {
        m_server = std::make_unique<StandinServer>(QStringList{u"--noreply-seconds"_s, u"15"_s});
        QVERIFY(m_server->isRunning());
        m_cookie = standinSignIn(m_server->baseUrl());
        QVERIFY(!m_cookie.isEmpty());

        QNetworkAccessManager network;
        net::NetworkTransport transport(&network);
        FixedCookie cookies(m_cookie);
        SessionPostClient client(&transport, &cookies);
        // Long enough for the slow and the large replies on a busy machine; the rows that never
        // answer wait it out.
        client.setTimeoutMs(6000);
        QueryRun run(&client);
        run.setOperatorBase(m_server->baseUrl());
        run.setRateSource([] { return 1000; });
        QStringList accounts;
        for (const Case& c : cases())
            accounts << c.account;
        QSignalSpy finished(&run, &QueryRun::finished);
        // The fault cases come in a row; every account is to be tried.
        connect(&run, &QueryRun::failureStreak, &run, &QueryRun::continueAfterFailures);
        QVERIFY(run.start(accounts.join(u"\r\n"_s) + u"\r\n"_s));
        QVERIFY(finished.wait(120000));
        m_message = finished.first().at(0).toString();
        m_rows = run.rows();
    }

    void runEndsNormally() {
        QCOMPARE(m_message, u"查询结束!"_s);
        QCOMPARE(m_rows.size(), cases().size());
    }

    void everyCaseGivesItsRow_data() {
        QTest::addColumn<int>("index");
        const QList<Case> all = cases();
        for (int i = 0; i < all.size(); ++i)
            QTest::newRow(all[i].account.toUtf8().constData()) << i;
    }
    void everyCaseGivesItsRow() {
        QFETCH(int, index);
        const Case c = cases().at(index);
        const QueryRun::Row& row = m_rows.at(index);
        // Blanks around an account are not part of it.
        const QString account = c.account.trimmed();
        QCOMPARE(row[0], account);
        for (int column = 1; column < QueryRun::kColumnCount; ++column) {
            compareCell(row[column], c.expected.at(column), column);
            if (QTest::currentTestFailed())
                return;
        }
        // A held reply is logged only when the stand-in lets it go, after the run.
        if (c.account.endsWith(u"noreply"_s))
            return;
        QCOMPARE(lookupsOf(kResourcePath, account).size(), 1);
        QCOMPARE(lookupsOf(kPowerPath, account).size(), c.powerAsked ? 1 : 0);
    }

    void requestsArriveAsSent() {
        const auto lookups = m_server->requests(kResourcePath) + m_server->requests(kPowerPath);
        QVERIFY(lookups.size() > cases().size());
        for (const QJsonObject& entry : lookups) {
            QCOMPARE(entry[u"cookie"_s].toString(), m_cookie);
            QCOMPARE(entry[u"content_type"_s].toString(), u"application/x-www-form-urlencoded"_s);
            // The log's query lists the parsed body fields too.
            QVERIFY(entry[u"query"_s].toString().split(QLatin1Char('&')).contains(u"testType=2"_s));
        }
        const auto special = lookupsOf(kPowerPath, u"res-special"_s);
        QCOMPARE(special.size(), 1);
        QCOMPARE(special[0][u"body"_s].toString(),
                 u"no209=res-special&rmwEms=%E4%BD%9B%E5%B1%B1%26%E5%8D%97%E6%B5%B7%20EMS%3D1%2B2%25"
                 "&rmwOltIp=10.0.0.1%26x%3D1&rmwOltPon=0%2F1%2F3%20&rmwLoid=LOID%2B100%25"_s);
        const auto blanks = lookupsOf(kResourcePath, u"209 测试"_s);
        QCOMPARE(blanks.size(), 1);
        QCOMPARE(blanks[0][u"body"_s].toString(), u"no209=209%20%E6%B5%8B%E8%AF%95"_s);
    }

    void signInPages() {
        const QUrl base = m_server->baseUrl();
        const QUrl login = base.resolved(QUrl(u"/ehmsexp/jsp/login/login.jsp"_s));
        const HttpResult form = standinFetch(login);
        QCOMPARE(form.status, 200);
        const QString formText = QString::fromUtf8(form.body);
        QVERIFY(formText.contains(u"<form"_s) && formText.contains(u"demo123"_s) &&
                formText.contains(u"用户名"_s));
        QVERIFY(!formText.contains(u"注销"_s));

        const HttpResult wrong = standinFetch(login, "username=demo&password=nope");
        QCOMPARE(wrong.status, 200);
        QVERIFY(wrong.setCookie.isEmpty());
        QVERIFY(QString::fromUtf8(wrong.body).contains(u"错误"_s));

        const HttpResult good = standinFetch(login, "username=demo&password=demo123");
        QCOMPARE(good.status, 302);
        QCOMPARE(good.location, QByteArray("/ehmsexp/jsp/main.jsp"));
        QVERIFY2(QRegularExpression(u"^JSESSIONID=[0-9A-F]{32}; Path=/ehmsexp; HttpOnly$"_s)
                     .match(QString::fromLatin1(good.setCookie))
                     .hasMatch(),
                 good.setCookie.constData());
        const QString again = standinSignIn(base);
        QVERIFY(!again.isEmpty() && !good.setCookie.startsWith(again.toLatin1()));

        const QByteArray session = good.setCookie.split(';').first();
        const QString home = QString::fromUtf8(
            standinFetch(base.resolved(QUrl(u"/ehmsexp/jsp/main.jsp"_s)), {}, session).body);
        QVERIFY(home.contains(u"注销"_s));
        QVERIFY(home.contains(u"<iframe"_s) && home.contains(u"/ehmsexp/jsp/welcome.jsp"_s));
        const QString frame = QString::fromUtf8(
            standinFetch(base.resolved(QUrl(u"/ehmsexp/jsp/welcome.jsp"_s)), {}, session).body);
        QVERIFY(!frame.isEmpty() && !frame.contains(u"注销"_s));

        const QString banned = standinSignIn(base, "banned");
        QVERIFY(!banned.isEmpty());
        const HttpResult bannedHome =
            standinFetch(base.resolved(QUrl(u"/ehmsexp/jsp/main.jsp"_s)), {}, banned.toLatin1());
        QCOMPARE(bannedHome.body, QByteArray("<html><head></head><body></body></html>"));

        const HttpResult anonymous =
            standinFetch(base.resolved(QUrl(u"/ehmsexp/rest/install/queryPowerInfo?testType=2"_s)),
                         "no209=1&rmwEms=&rmwOltIp=&rmwOltPon=&rmwLoid=");
        QCOMPARE(anonymous.status, 200);
        QVERIFY(QString::fromUtf8(anonymous.body).contains(u"<form"_s));
    }

    // Over the flood limit the session is banned: the rest of the run gets empty bodies.
    void floodGuardBansTheSession() {
        StandinServer server({u"--flood-limit"_s, u"5"_s});
        QVERIFY(server.isRunning());
        const QString cookie = standinSignIn(server.baseUrl());
        QNetworkAccessManager network;
        net::NetworkTransport transport(&network);
        FixedCookie cookies(cookie);
        SessionPostClient client(&transport, &cookies);
        QueryRun run(&client);
        run.setOperatorBase(server.baseUrl());
        run.setRateSource([] { return 1000; });
        QSignalSpy finished(&run, &QueryRun::finished);
        QVERIFY(run.start(u"2091\r\n2092\r\n2093\r\n2094\r\n2095"_s));
        QVERIFY(finished.wait(20000));
        const auto rows = run.rows();
        QCOMPARE(rows[1][1], kOk);
        QCOMPARE(rows[2][1], kRes); // its power lookup was the sixth request
        QCOMPARE(rows[2][2], QString());
        QCOMPARE(rows[3][1], QString());
        QCOMPARE(rows[4][6], QString());
        const HttpResult home =
            standinFetch(server.baseUrl().resolved(QUrl(u"/ehmsexp/jsp/main.jsp"_s)), {}, cookie.toLatin1());
        QCOMPARE(home.body, QByteArray("<html><head></head><body></body></html>"));
    }
};

QTEST_GUILESS_MAIN(TestQueryStandin)
#include "tst_query_standin.moc"
