#include "query/SessionPostClient.h"

#include "common/ReplyText.h"
#include "platform/TextCodec.h"
#include "query/CookieSource.h"

#include <QStringDecoder>

SessionPostClient::SessionPostClient(net::Transport* transport, const CookieSource* cookies, QObject* parent)
    : QObject(parent), m_transport(transport), m_cookies(cookies) {}

QString SessionPostClient::BytesToStr(const QByteArray& bytes, const QString& charset) {
    const auto encoding = QStringConverter::encodingForName(charset.toLatin1().constData());
    if (!encoding) {
        if (const auto text = platform::decodeStrictly(bytes, charset.toLatin1()))
            return *text;
    }
    QStringDecoder decoder(encoding.value_or(QStringConverter::Utf8), QStringConverter::Flag::Stateless);
    return decoder.decode(bytes);
}

QString SessionPostClient::cookieFor(const QUrl& url) const {
    return m_cookies ? m_cookies->cookieHeaderFor(url) : QString();
}

void SessionPostClient::PostHtml(const QUrl& url, const QByteArray& body, QObject* context,
                                 std::function<void(const PostReply& reply)> done) {
    net::Request request;
    request.url = url;
    request.body = body;
    request.headers.append(
        {QByteArrayLiteral("Content-Type"), QByteArrayLiteral("application/x-www-form-urlencoded")});
    // The cookie of this very moment: a new sign-in counts from the next request on.
    const QString cookie = cookieFor(url);
    if (!cookie.isEmpty())
        request.headers.append({QByteArrayLiteral("Cookie"), cookie.toUtf8()});
    // A deadline for the whole exchange: a transfer time-out alone would let a server that
    // trickles bytes hold the run forever.
    request.deadlineMs = m_timeoutMs;
    request.maxBodyBytes = m_replyLimit;
    m_transport->send(request, context, [cookie, done = std::move(done)](const net::Result& result) {
        PostReply reply;
        // An error page is returned like any other body; the reader finds no object in it.
        reply.text = replyText(result.body, result.contentType);
        reply.result = result;
        reply.result.body.clear();
        reply.cookie = cookie;
        if (done)
            done(reply);
    });
}
