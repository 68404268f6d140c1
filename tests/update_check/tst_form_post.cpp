#include "common/ErrorText.h"
#include "common/FormPost.h"
#include "common/NetworkTransport.h"
#include "support/FixedReplyServer.h"
#include "support/StandinServer.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <optional>

using namespace Qt::StringLiterals;

namespace {

// Answers every request with a fixed reply that also sets a cookie, and keeps each request head
// exactly as it arrived, so header order and duplicates can be seen.
class RawServer : public QObject {
    Q_OBJECT

public:
    RawServer() {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QUrl url() const { return QUrl(u"http://127.0.0.1:%1/form"_s.arg(m_server.serverPort())); }
    QList<QByteArray> heads;

signals:
    void served();

private:
    void serve(QTcpSocket* socket) {
        QByteArray& pending = m_pending[socket];
        pending += socket->readAll();
        const qsizetype end = pending.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QByteArray head = pending.left(end);
        qsizetype length = 0;
        for (const QByteArray& line : head.split('\n')) {
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toLongLong();
        }
        if (pending.size() < end + 4 + length)
            return;
        heads << head;
        m_pending.remove(socket);
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nSet-Cookie: jar=from-server; Path=/\r\n"
                      "Content-Length: 2\r\nConnection: close\r\n\r\nok");
        socket->disconnectFromHost();
        emit served();
    }

    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_pending;
};

QList<QByteArray> headerNames(const QByteArray& head) {
    QList<QByteArray> names;
    const QList<QByteArray> lines = head.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i)
        names << lines.at(i).left(lines.at(i).indexOf(':')).trimmed().toLower();
    return names;
}

QByteArray headerValue(const QByteArray& head, const QByteArray& name) {
    for (const QByteArray& line : head.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name)
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

} // namespace

class TestFormPost : public QObject {
    Q_OBJECT

private:
    QNetworkAccessManager m_network;
    net::NetworkTransport m_transport{&m_network};
    FormPostHeaders m_headers;

    // Posts and waits for the callback; nothing when it never came.
    std::optional<FormPostResult> post(const QUrl& url, const QString& body = u"softwarename=vesmora"_s,
                                       int timeoutMs = 15000) {
        std::optional<FormPostResult> result;
        QObject context;
        postForm(m_transport, url, body, m_headers, timeoutMs, &context,
                 [&result](const FormPostResult& r) { result = r; });
        if (!QTest::qWaitFor([&result] { return result.has_value(); }, 90000))
            return std::nullopt;
        return result;
    }

    static QUrl updateUrl(const StandinServer& server) {
        return QUrl(server.baseUrl().toString() + u"/soft/api/update.asp"_s);
    }

private slots:
    void init() { m_headers = FormPostHeaders(); }

    void settingsAreSentAgainOnLaterCalls() {
        StandinServer server({u"--update-notes"_s, u"修复若干问题"_s});
        QVERIFY(server.isRunning());
        m_headers.contentType = u"application/x-www-form-urlencoded;charset=utf-8"_s;
        m_headers.userAgent = u"vesmora-Software Client"_s;
        const auto first = post(updateUrl(server));
        const auto second = post(updateUrl(server), u"softwarename=版本&x=1"_s);
        QVERIFY(first && second);
        QVERIFY(!first->failed);
        QVERIFY(first->text.contains(u"修复若干问题"_s)); // the reply is read as UTF-8
        const auto requests = server.requests(u"/soft/api/update.asp"_s);
        QCOMPARE(requests.size(), 2);
        for (const QJsonObject& request : requests) {
            QCOMPARE(request.value(u"content_type"_s).toString(),
                     u"application/x-www-form-urlencoded;charset=utf-8"_s);
            QCOMPARE(request.value(u"user_agent"_s).toString(), u"vesmora-Software Client"_s);
        }
        QCOMPARE(requests.at(1).value(u"body"_s).toString(), u"softwarename=版本&x=1"_s); // sent as UTF-8
    }

    void statusOtherThan200GivesEmptyText_data() {
        QTest::addColumn<QStringList>("flags");
        QTest::addColumn<QString>("path");
        QTest::newRow("404") << QStringList() << u"/soft/api/missing.asp"_s;
        QTest::newRow("500") << QStringList{u"--update-fault"_s, u"http500"_s} << u"/soft/api/update.asp"_s;
    }
    void statusOtherThan200GivesEmptyText() {
        QFETCH(QStringList, flags);
        QFETCH(QString, path);
        StandinServer server(flags);
        QVERIFY(server.isRunning());
        const auto result = post(QUrl(server.baseUrl().toString() + path));
        QVERIFY(result);
        QVERIFY(!result->failed);
        QVERIFY(result->text.isEmpty());
        QVERIFY(result->errorText.isEmpty());
    }

    void refusedConnectionIsAFailureWithText() {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 port = closed.serverPort();
        closed.close();
        const auto result = post(QUrl(u"http://127.0.0.1:%1/soft/api/update.asp"_s.arg(port)));
        QVERIFY(result);
        QVERIFY(result->failed);
        QVERIFY(result->text.isEmpty());
        QVERIFY(!result->errorText.isEmpty());
    }

    // Replies that must not be taken: each is a failure with its own description.
    void unusableRepliesFailWithTheirReason_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("error");
        QTest::newRow("redirect to another host")
            << u"offsite-redirect"_s << u"服务器重定向到其他地址，已拒绝"_s;
    }
    void unusableRepliesFailWithTheirReason() {
        QFETCH(QString, fault);
        QFETCH(QString, error);
        StandinServer server({u"--update-fault"_s, fault});
        QVERIFY(server.isRunning());
        const auto result = post(updateUrl(server));
        QVERIFY(result);
        QVERIFY(result->failed);
        QCOMPARE(result->errorText, error);
    }

    // A reply past the limit that never ends: the limit cuts it, not the end or a time-out.
    void endlessReplyIsCutAtTheLimit() {
        FixedReplyServer server(QByteArray(1100 * 1024, 'x'), FixedReplyServer::HeldOpen);
        const auto result = post(server.url(), u"softwarename=vesmora"_s, 60000);
        QVERIFY(result);
        QVERIFY(result->failed);
        QCOMPARE(result->errorText, u"服务器回复过大，已中止"_s);
    }

    // The reply limit of the update check, to the byte, announced or ended by the connection.
    void replyLimitAtItsEdge_data() {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("withLength");
        QTest::addColumn<QString>("error");
        const QString tooLarge = u"服务器回复过大，已中止"_s;
        QTest::newRow("1 MiB, announced") << 1048576 << true << QString();
        QTest::newRow("1 MiB and a byte, announced") << 1048577 << true << tooLarge;
        QTest::newRow("1 MiB, not announced") << 1048576 << false << QString();
        QTest::newRow("1 MiB and a byte, not announced") << 1048577 << false << tooLarge;
    }
    void replyLimitAtItsEdge() {
        QFETCH(int, size);
        QFETCH(bool, withLength);
        QFETCH(QString, error);
        FixedReplyServer server(QByteArray(size, 'x'), withLength);
        const auto result = post(server.url());
        QVERIFY(result);
        QCOMPARE(result->errorText, error);
        QCOMPARE(result->failed, !error.isEmpty());
        QCOMPARE(result->text.size(), error.isEmpty() ? size : 0);
    }

    // A trickle keeps the time-out of each phase from running out, but not the deadline of the
    // whole exchange.
    void trickledReplyAgainstItsTimes_data() {
        QTest::addColumn<int>("msPerByte");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<int>("deadlineMs");
        QTest::addColumn<QString>("error");
        const QString timeout = u"操作超时"_s;
        QTest::newRow("a byte each 200 ms, time-out 1.5 s")
            << 200 << QByteArray("abcdefghij") << 1500 << 0 << QString();
        QTest::newRow("a byte after 3 s, time-out 1.5 s") << 3000 << QByteArray("ab") << 1500 << 0 << timeout;
        QTest::newRow("whole after 1 s, deadline 2.5 s")
            << 200 << QByteArray("abcde") << 15000 << 2500 << QString();
        QTest::newRow("3 s to go, deadline 2.5 s") << 600 << QByteArray("abcde") << 15000 << 2500 << timeout;
    }
    void trickledReplyAgainstItsTimes() {
        QFETCH(int, msPerByte);
        QFETCH(QByteArray, body);
        QFETCH(int, timeoutMs);
        QFETCH(int, deadlineMs);
        QFETCH(QString, error);
        FixedReplyServer server(body, true);
        server.setTrickle(msPerByte);
        std::optional<FormPostResult> result;
        QObject context;
        postForm(
            m_transport, server.url(), u"softwarename=vesmora"_s, m_headers, timeoutMs, &context,
            [&result](const FormPostResult& r) { result = r; }, deadlineMs);
        QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 30000);
        QCOMPARE(result->errorText, error);
        QCOMPARE(result->text, error.isEmpty() ? QString::fromLatin1(body) : QString());
    }

    // Five redirects within the origin are followed; a sixth is refused.
    void redirectLimitAtItsEdge_data() {
        QTest::addColumn<int>("redirects");
        QTest::addColumn<QString>("error");
        QTest::newRow("5") << 5 << QString();
        QTest::newRow("6") << 6 << u"重定向次数过多"_s;
    }
    void redirectLimitAtItsEdge() {
        QFETCH(int, redirects);
        QFETCH(QString, error);
        FixedReplyServer server("ok", true);
        server.setRedirects(redirects);
        const auto result = post(server.url());
        QVERIFY(result);
        QCOMPARE(result->errorText, error);
        QCOMPARE(result->text, error.isEmpty() ? u"ok"_s : QString());
    }

    // The update server's reply too is read in the set it names when it is not UTF-8.
    void replyCharset_data() {
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QString>("text");
        QTest::newRow("GBK named") << QByteArray("application/json; charset=GBK") << u"光猫"_s;
        QTest::newRow("none named") << QByteArray("application/json") << u"\uFFFD\uFFFD\u00E8"_s;
    }
    void replyCharset() {
        QFETCH(QByteArray, contentType);
        QFETCH(QString, text);
        FixedReplyServer server(QByteArray::fromHex("b9e2c3a8"), true); // 光猫 in GBK
        server.setContentType(contentType);
        const auto result = post(server.url());
        QVERIFY(result);
        QCOMPARE(result->text, text);
    }

    void silentServerRunsIntoTheTimeout() {
        StandinServer server({u"--update-fault"_s, u"no-answer"_s});
        QVERIFY(server.isRunning());
        const auto result = post(updateUrl(server), u"softwarename=vesmora"_s, 300);
        QVERIFY(result);
        QVERIFY(result->failed);
        QCOMPARE(result->errorText, u"操作超时"_s);
    }

    void headersGoOutInOrderOnceEach() {
        RawServer raw;
        FormPostHeaders& h = m_headers;
        h.contentType = u"application/x-www-form-urlencoded;charset=utf-8"_s;
        h.userAgent = u"vesmora-Software Client"_s;
        h.accept = u"*/*"_s;
        h.acceptLanguage = u"zh-cn"_s;
        h.connection = u"close"_s;
        h.cookie = u"JSESSIONID=abc"_s;
        h.referer = u"http://example.invalid/"_s;
        h.authorization = u"Basic eDp5"_s;
        h.requestedWith = u"XMLHttpRequest"_s;
        QVERIFY(post(raw.url()).has_value());
        // The reply set a cookie; the Cookie setting must still be the one sent next time.
        QVERIFY(post(raw.url()).has_value());
        QCOMPARE(raw.heads.size(), 2);
        const QList<QByteArray> ordered{"content-type",    "user-agent",    "accept",
                                        "accept-language", "connection",    "cookie",
                                        "referer",         "authorization", "x-requested-with"};
        for (const QByteArray& head : std::as_const(raw.heads)) {
            const QList<QByteArray> names = headerNames(head);
            qsizetype last = -1;
            for (const QByteArray& name : ordered) {
                QCOMPARE(names.count(name), 1);
                QVERIFY2(names.indexOf(name) > last, name.constData());
                last = names.indexOf(name);
            }
            QCOMPARE(headerValue(head, "cookie"), QByteArray("JSESSIONID=abc"));
            QCOMPARE(headerValue(head, "user-agent"), QByteArray("vesmora-Software Client"));
            QCOMPARE(headerValue(head, "accept-language"), QByteArray("zh-cn"));
        }
    }

    void emptySettingsSendOnlyWhatTheStackAdds() {
        RawServer raw;
        QVERIFY(post(raw.url()).has_value());
        QCOMPARE(raw.heads.size(), 1);
        const QList<QByteArray> names = headerNames(raw.heads.first());
        for (const char* name : {"cookie", "referer", "authorization", "x-requested-with", "accept"})
            QVERIFY2(!names.contains(name), name);
        for (const QByteArray& name : names)
            QCOMPARE(names.count(name), 1);
    }

    void destroyedContextGetsNoCallback() {
        StandinServer server({u"--update-fault"_s, u"no-answer"_s});
        QVERIFY(server.isRunning());
        bool called = false;
        auto* context = new QObject;
        postForm(m_transport, updateUrl(server), u"softwarename=vesmora"_s, m_headers, 15000, context,
                 [&called](const FormPostResult&) { called = true; });
        QTRY_COMPARE(m_network.findChildren<QNetworkReply*>().size(), 1);
        delete context;
        // The aborted reply is released, and the callback never runs.
        QTRY_COMPARE(m_network.findChildren<QNetworkReply*>().size(), 0);
        QVERIFY(!called);
    }
};

QTEST_GUILESS_MAIN(TestFormPost)
#include "tst_form_post.moc"
