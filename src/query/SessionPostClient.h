#pragma once

#include "common/HttpExchange.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

class CookieSource;

// What one session post brought back.
struct PostReply {
    QString text;       // the body as replyText() reads it, whatever the status; empty when nothing came
    net::Result result; // status, final address and, when nothing came, why (body not kept twice)
    QString cookie;     // the Cookie header the request carried
};

// One form POST to the operator system on behalf of the signed-in user.
class SessionPostClient : public QObject {
    Q_OBJECT

public:
    static constexpr int kDefaultTimeoutMs = 10000;
    // Largest reply read; a longer one counts as no reply.
    static constexpr qint64 kReplyLimit = 16 * 1024 * 1024;

    SessionPostClient(net::Transport* transport, const CookieSource* cookies, QObject* parent = nullptr);

    // The callback runs later, never inside this call, and not at all once context is gone.
    void PostHtml(const QUrl& url, const QByteArray& body, QObject* context,
                  std::function<void(const PostReply& reply)> done);

    // The Cookie header a request to this address would carry now.
    QString cookieFor(const QUrl& url) const;
    // Tests try the limit at its edge with a small one.
    void setReplyLimit(qint64 bytes) { m_replyLimit = bytes; }

    // Whole time a request may take, from the send to the last byte of the reply.
    void setTimeoutMs(int milliseconds) { m_timeoutMs = milliseconds; }
    int timeoutMs() const { return m_timeoutMs; }

    // Bytes decoded with the named character set; a leading byte-order mark is dropped and
    // invalid sequences become U+FFFD. An unknown name, or bytes that set does not take whole,
    // decode as UTF-8.
    static QString BytesToStr(const QByteArray& bytes, const QString& charset = QStringLiteral("UTF-8"));

private:
    net::Transport* m_transport;
    const CookieSource* m_cookies;
    int m_timeoutMs = kDefaultTimeoutMs;
    qint64 m_replyLimit = kReplyLimit;
};
