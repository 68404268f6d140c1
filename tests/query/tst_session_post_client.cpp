#include "StandinHttp.h"
#include "common/NetworkTransport.h"
#include "query/SessionPostClient.h"
#include "support/FixedReplyServer.h"
#include "support/StandinServer.h"

#include <QElapsedTimer>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QTest>

#include <memory>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

struct Outcome {
    std::optional<QString> reply;
    qint64 afterMs = -1;
};

} // namespace

class TestSessionPostClient : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<StandinServer> m_server;
    QString m_cookie;
    QNetworkAccessManager m_network;
    net::NetworkTransport m_transport{&m_network};

    QUrl resourceUrl() const {
        return m_server->baseUrl().resolved(QUrl(u"/ehmsexp/rest/install/queryRmwResouceInfo?testType=2"_s));
    }

    // Posts and waits for the callback.
    QString post(SessionPostClient& client, const QByteArray& body, const QUrl& url = {}) {
        std::optional<QString> reply;
        QObject context;
        client.PostHtml(url.isEmpty() ? resourceUrl() : url, body, &context,
                        [&reply](const PostReply& r) { reply = r.text; });
        [&] { QTRY_VERIFY_WITH_TIMEOUT(reply.has_value(), 20000); }();
        return reply.value_or(u"<no callback>"_s);
    }

private slots:
    void initTestCase() {
        m_server = std::make_unique<StandinServer>(QStringList{u"--noreply-seconds"_s, u"20"_s});
        QVERIFY(m_server->isRunning());
        m_cookie = standinSignIn(m_server->baseUrl());
        QVERIFY(!m_cookie.isEmpty());
    }

    void sendsHeadersAndTheCookieOfTheMoment() {
        FixedCookie cookies(m_cookie + u"; theme=blue"_s);
        // A cookie in the manager's own jar must not ride along.
        m_network.cookieJar()->setCookiesFromUrl({QNetworkCookie("JSESSIONID", "FROMJAR")},
                                                 m_server->baseUrl());
        SessionPostClient client(&m_transport, &cookies);

        QVERIFY(post(client, "no209=first").contains(u"资源查询成功"_s));
        cookies.set(u"JSESSIONID=OTHER"_s);
        post(client, "no209=second");
        cookies.set(QString());
        post(client, "no209=third");

        const auto log = m_server->requests(u"/ehmsexp/rest/install/queryRmwResouceInfo"_s);
        QCOMPARE(log.size(), 3);
        QCOMPARE(log[0][u"cookie"_s].toString(), m_cookie + u"; theme=blue"_s);
        QCOMPARE(log[1][u"cookie"_s].toString(), u"JSESSIONID=OTHER"_s);
        QCOMPARE(log[2][u"cookie"_s].toString(), QString());
        for (const QJsonObject& entry : log) {
            QCOMPARE(entry[u"method"_s].toString(), u"POST"_s);
            QCOMPARE(entry[u"content_type"_s].toString(), u"application/x-www-form-urlencoded"_s);
            // The log's query lists the parsed body fields too.
            QVERIFY(entry[u"query"_s].toString().split(QLatin1Char('&')).contains(u"testType=2"_s));
        }
        QCOMPARE(log[0][u"body"_s].toString(), u"no209=first"_s);
    }

    void replyBodies_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<QString>("contains");
        QTest::addColumn<QString>("lacks");
        QTest::newRow("chinese JSON")
            << QByteArray("no209=20912345678") << true << u"\"rmw_ems\":\"广州"_s << QString();
        QTest::newRow("status 500 html")
            << QByteArray("no209=res-500") << true << u"服务器内部错误"_s << QString();
        QTest::newRow("empty body") << QByteArray("no209=res-empty") << true << QString() << QString();
        QTest::newRow("invalid utf-8")
            << QByteArray("no209=res-badutf8") << true << u"-1:8-\uFFFD\uFFFD03"_s << QString();
        QTest::newRow("several MB") << QByteArray("no209=res-huge") << true << u"\"rmw_olt_ip\""_s
                                    << QString();
        QTest::newRow("reply after 2 s")
            << QByteArray("no209=res-slow-2") << true << u"资源查询成功"_s << QString();
        QTest::newRow("no session: sign-in page")
            << QByteArray("no209=209") << false << u"<form"_s << u"资源查询成功"_s;
    }
    void replyBodies() {
        QFETCH(QByteArray, body);
        QFETCH(bool, signedIn);
        QFETCH(QString, contains);
        QFETCH(QString, lacks);
        FixedCookie cookies(signedIn ? m_cookie : QString());
        SessionPostClient client(&m_transport, &cookies);
        const QString reply = post(client, body);
        if (contains.isEmpty())
            QCOMPARE(reply, QString());
        else
            QVERIFY2(reply.contains(contains), qPrintable(reply.left(200)));
        if (!lacks.isEmpty())
            QVERIFY(!reply.contains(lacks));
        if (body.endsWith("huge"))
            QVERIFY(reply.size() > 6 * 1000 * 1000);
    }

    // The cut comes from the limit, not from a race with the deadline: the test sets a small one.
    void endlessReplyIsCutAtTheLimit() {
        FixedReplyServer server(QByteArray(320 * 1024, 'x'), FixedReplyServer::HeldOpen);
        SessionPostClient client(&m_transport, nullptr);
        client.setReplyLimit(256 * 1024);
        client.setTimeoutMs(0); // no deadline to race
        std::optional<PostReply> reply;
        QObject context;
        client.PostHtml(server.url(), "no209=1", &context, [&reply](const PostReply& r) { reply = r; });
        QTRY_VERIFY_WITH_TIMEOUT(reply.has_value(), 60000);
        QCOMPARE(reply->text, QString());
        QCOMPARE(reply->result.error, net::Error::TooLarge);
    }

    void replyLimitAtItsEdge_data() {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("withLength");
        QTest::addColumn<bool>("taken");
        QTest::newRow("at the limit, announced") << 1000 << true << true;
        QTest::newRow("a byte over, announced") << 1001 << true << false;
        QTest::newRow("at the limit, not announced") << 1000 << false << true;
        QTest::newRow("a byte over, not announced") << 1001 << false << false;
    }
    void replyLimitAtItsEdge() {
        QFETCH(int, size);
        QFETCH(bool, withLength);
        QFETCH(bool, taken);
        FixedReplyServer server(QByteArray(size, 'x'), withLength);
        SessionPostClient client(&m_transport, nullptr);
        client.setReplyLimit(1000);
        client.setTimeoutMs(0);
        std::optional<PostReply> reply;
        QObject context;
        client.PostHtml(server.url(), "no209=1", &context, [&reply](const PostReply& r) { reply = r; });
        QTRY_VERIFY_WITH_TIMEOUT(reply.has_value(), 60000);
        QCOMPARE(reply->text.size(), taken ? size : 0);
        QCOMPARE(reply->result.error, taken ? net::Error::None : net::Error::TooLarge);
    }

    // The body is read as UTF-8 unless it is not UTF-8 and the reply names the set it is in.
    void replyCharset_data() {
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("text");
        const QByteArray gbk = QByteArray::fromHex("b9e2c3a8"); // 光猫
        const QByteArray utf8("光猫");
        QTest::newRow("UTF-8 named") << QByteArray("application/json;charset=UTF-8") << utf8 << u"光猫"_s;
        QTest::newRow("none named") << QByteArray("application/json") << utf8 << u"光猫"_s;
        QTest::newRow("GBK named, GBK sent")
            << QByteArray("application/json; charset=GBK") << gbk << u"光猫"_s;
        QTest::newRow("GBK named, UTF-8 sent")
            << QByteArray("text/html; charset=\"gbk\"") << utf8 << u"光猫"_s;
        QTest::newRow("none named, GBK sent")
            << QByteArray("application/json") << gbk << u"\uFFFD\uFFFD\u00E8"_s;
        QTest::newRow("unknown set named, GBK sent")
            << QByteArray("text/plain; charset=x-unknown") << gbk << u"\uFFFD\uFFFD\u00E8"_s;
        QTest::newRow("byte-order mark only")
            << QByteArray("application/json") << QByteArray("\xEF\xBB\xBF") << QString();
    }
    void replyCharset() {
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, body);
        QFETCH(QString, text);
        FixedReplyServer server(body, true);
        server.setContentType(contentType);
        SessionPostClient client(&m_transport, nullptr);
        QCOMPARE(post(client, "no209=1", server.url()), text);
    }

    // The deadline (here 2.5 s) bounds the whole exchange, however the server paces its bytes.
    void trickledReplyAgainstTheDeadline_data() {
        QTest::addColumn<int>("msPerByte");
        QTest::addColumn<QString>("text");
        QTest::newRow("5 bytes, one each 200 ms") << 200 << u"abcde"_s;
        QTest::newRow("5 bytes, one each 600 ms") << 600 << QString();
    }
    void trickledReplyAgainstTheDeadline() {
        QFETCH(int, msPerByte);
        QFETCH(QString, text);
        FixedReplyServer server("abcde", true);
        server.setTrickle(msPerByte);
        SessionPostClient client(&m_transport, nullptr);
        client.setTimeoutMs(2500);
        QCOMPARE(post(client, "no209=1", server.url()), text);
    }

    void transportFailureGivesEmptyText() {
        StandinServer gone;
        const QUrl url = gone.baseUrl().resolved(QUrl(u"/ehmsexp/rest/install/queryPowerInfo?testType=2"_s));
        gone.stop();
        FixedCookie cookies(m_cookie);
        SessionPostClient client(&m_transport, &cookies);
        QCOMPARE(post(client, "no209=1", url), QString());
    }

    void decodesUtf8Only() {
        QCOMPARE(SessionPostClient::BytesToStr("\xEF\xBB\xBF{\"a\":\"\xE6\x88\x90\"}"), u"{\"a\":\"成\"}"_s);
        QCOMPARE(SessionPostClient::BytesToStr("a\xFF"
                                               "b"),
                 u"a\uFFFDb"_s);
        QCOMPARE(SessionPostClient::BytesToStr(QByteArray()), QString());
        // A reply cut inside a character shows that it was cut.
        QCOMPARE(SessionPostClient::BytesToStr("a\xE6\x88"), u"a\uFFFD\uFFFD"_s);
        // Another set only when named.
        QCOMPARE(SessionPostClient::BytesToStr(QByteArray::fromHex("b9e2c3a8"), u"GBK"_s), u"光猫"_s);
    }

    void noCallbackOnceTheContextIsGone() {
        FixedCookie cookies(m_cookie);
        SessionPostClient client(&m_transport, &cookies);
        bool called = false;
        auto context = std::make_unique<QObject>();
        client.PostHtml(resourceUrl(), "no209=res-slow-1", context.get(),
                        [&called](const PostReply&) { called = true; });
        QTRY_COMPARE(m_network.findChildren<QNetworkReply*>().size(), 1);
        context.reset();
        // The exchange is aborted and released without a call, and the client still serves.
        QTRY_COMPARE(m_network.findChildren<QNetworkReply*>().size(), 0);
        QVERIFY(post(client, "no209=20912345678").contains(u"资源查询成功"_s));
        QVERIFY(!called);
    }

    // A short deadline against a reply that never comes, and the default one against a reply of
    // 15 s, posted together with one of 3 s that must still come back whole.
    void timeouts() {
        FixedCookie cookies(m_cookie);
        SessionPostClient shortClient(&m_transport, &cookies);
        shortClient.setTimeoutMs(500);
        QCOMPARE(post(shortClient, "no209=res-noreply"), QString());

        SessionPostClient client(&m_transport, &cookies);
        QCOMPARE(client.timeoutMs(), 10000);
        QObject context;
        QElapsedTimer clock;
        Outcome slow, fine, never;
        auto record = [&clock](Outcome& outcome) {
            return [&outcome, &clock](const PostReply& r) {
                outcome.reply = r.text;
                outcome.afterMs = clock.elapsed();
            };
        };
        clock.start();
        client.PostHtml(resourceUrl(), "no209=res-slow-15", &context, record(slow));
        client.PostHtml(resourceUrl(), "no209=res-slow-3", &context, record(fine));
        client.PostHtml(resourceUrl(), "no209=res-noreply", &context, record(never));
        QVERIFY(!slow.reply && !fine.reply && !never.reply); // never inside the call
        QTRY_VERIFY_WITH_TIMEOUT(slow.reply && never.reply, 30000);
        QVERIFY(fine.reply && fine.reply->contains(u"资源查询成功"_s));
        // Cut before the 15 s reply was whole, yet not before the deadline. How late the cut
        // comes on a busy machine is no part of the behaviour.
        QCOMPARE(*slow.reply, QString());
        QCOMPARE(*never.reply, QString());
        QVERIFY2(slow.afterMs >= 9500, qPrintable(QString::number(slow.afterMs)));
    }
};

QTEST_GUILESS_MAIN(TestSessionPostClient)
#include "tst_session_post_client.moc"
