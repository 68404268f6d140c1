#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

class CookieSource;
class QNetworkAccessManager;

// One form POST to the operator system on behalf of the signed-in user.
class SessionPostClient : public QObject {
    Q_OBJECT

public:
    static constexpr int kDefaultTimeoutMs = 10000;

    SessionPostClient(QNetworkAccessManager* network, const CookieSource* cookies, QObject* parent = nullptr);

    // The reply body decoded as UTF-8, or the empty text after the timeout, on a transport
    // failure or for an empty body. The callback runs later, never inside this call, and not at
    // all once context is gone.
    virtual void PostHtml(const QUrl& url, const QByteArray& body, QObject* context,
                          std::function<void(const QString& reply)> done);

    // Whole time a request may take, from the send to the last byte of the reply.
    void setTimeoutMs(int milliseconds) { m_timeoutMs = milliseconds; }
    int timeoutMs() const { return m_timeoutMs; }

    // Bytes decoded with the named character set; a leading byte-order mark is dropped and
    // invalid sequences become U+FFFD. An unknown name decodes as UTF-8.
    static QString BytesToStr(const QByteArray& bytes, const QString& charset = QStringLiteral("UTF-8"));

private:
    QNetworkAccessManager* m_network;
    const CookieSource* m_cookies;
    int m_timeoutMs = kDefaultTimeoutMs;
};
