#pragma once

#include "query/CookieSource.h"

#include <QNetworkCookieJar>
#include <QObject>

class QWebEngineCookieStore;

// Mirrors the browser's cookie store, HttpOnly cookies included, so that each query carries
// exactly the cookies the browser itself would send to that address at that moment.
class WebCookieSource : public QObject, public CookieSource {
    Q_OBJECT

public:
    explicit WebCookieSource(QWebEngineCookieStore* store, QObject* parent = nullptr);

    QString cookieHeaderFor(const QUrl& url) const override;

private:
    class Jar : public QNetworkCookieJar {
    public:
        using QNetworkCookieJar::allCookies;
        using QNetworkCookieJar::setAllCookies;
    };

    void onAdded(const QNetworkCookie& cookie);
    void onRemoved(const QNetworkCookie& cookie);

    Jar m_jar;
};
