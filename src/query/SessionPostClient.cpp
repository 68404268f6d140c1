#include "query/SessionPostClient.h"

#include "query/CookieSource.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QStringDecoder>
#include <QTimer>

namespace {

// Errors below 200 mean no complete answer came from the server (refused, reset, aborted by our
// timeout, proxy trouble); protocol errors (3xx) mean a reply that cannot be trusted. HTTP error
// statuses (2xx and 4xx codes of QNetworkReply) still carry the server's body.
bool carriesServerBody(QNetworkReply::NetworkError error) {
    const int code = int(error);
    return code == 0 || (code >= 200 && code < 300) || (code >= 400 && code < 500);
}

} // namespace

SessionPostClient::SessionPostClient(QNetworkAccessManager* network, const CookieSource* cookies,
                                     QObject* parent)
    : QObject(parent), m_network(network), m_cookies(cookies) {}

QString SessionPostClient::BytesToStr(const QByteArray& bytes, const QString& charset) {
    auto encoding = QStringConverter::encodingForName(charset.toLatin1().constData());
    QStringDecoder decoder(encoding.value_or(QStringConverter::Utf8));
    return decoder.decode(bytes);
}

void SessionPostClient::PostHtml(const QUrl& url, const QByteArray& body, QObject* context,
                                 std::function<void(const QString& reply)> done) {
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("application/x-www-form-urlencoded"));
    // The session belongs to the login window: the manager's own jar must neither add nor keep
    // cookies, or a stale session could ride along with the current one.
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    // Redirects are followed as a browser request would, but only within the operator's origin,
    // so the session cookie never travels to another host.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    const QString cookie = m_cookies ? m_cookies->cookieHeaderFor(url) : QString();
    if (!cookie.isEmpty())
        request.setRawHeader(QByteArrayLiteral("Cookie"), cookie.toUtf8());

    QPointer<QObject> guard(context);
    auto deliver = [guard, done = std::move(done)](const QString& text) {
        if (guard && done)
            done(text);
    };

    if (!m_network) {
        QTimer::singleShot(0, context, [deliver] { deliver(QString()); });
        return;
    }

    QNetworkReply* reply = m_network->post(request, body);
    // A deadline for the whole exchange: a transfer timeout alone would let a server that
    // trickles bytes hold the run forever.
    auto* deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    deadline->setTimerType(Qt::PreciseTimer);
    connect(deadline, &QTimer::timeout, reply, &QNetworkReply::abort);
    deadline->start(m_timeoutMs);

    connect(reply, &QNetworkReply::finished, context, [reply, deliver] {
        reply->deleteLater();
        const QString text = carriesServerBody(reply->error()) ? BytesToStr(reply->readAll()) : QString();
        deliver(text);
    });
    // Without a receiver left, the reply still has to be released.
    connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
}
