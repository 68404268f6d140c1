#include "login/WebCookieSource.h"

#include <QNetworkCookie>
#include <QWebEngineCookieStore>

WebCookieSource::WebCookieSource(QWebEngineCookieStore* store, QObject* parent) : QObject(parent) {
    connect(store, &QWebEngineCookieStore::cookieAdded, this, &WebCookieSource::onAdded);
    connect(store, &QWebEngineCookieStore::cookieRemoved, this, &WebCookieSource::onRemoved);
}

void WebCookieSource::onAdded(const QNetworkCookie& cookie) {
    m_jar.insertCookie(cookie);
}

void WebCookieSource::onRemoved(const QNetworkCookie& cookie) {
    // Only the very cookie that went away: a replacement with the same name may already be here.
    QList<QNetworkCookie> cookies = m_jar.allCookies();
    const auto it = std::find_if(cookies.begin(), cookies.end(), [&cookie](const QNetworkCookie& c) {
        return c.hasSameIdentifier(cookie) && c.value() == cookie.value();
    });
    if (it == cookies.end())
        return;
    cookies.erase(it);
    m_jar.setAllCookies(cookies);
}

QString WebCookieSource::cookieHeaderFor(const QUrl& url) const {
    QStringList pairs;
    const auto cookies = m_jar.cookiesForUrl(url);
    for (const QNetworkCookie& cookie : cookies)
        pairs << QString::fromUtf8(cookie.name() + '=' + cookie.value());
    return pairs.join(QStringLiteral("; "));
}
