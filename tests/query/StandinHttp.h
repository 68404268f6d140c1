#pragma once

#include "query/CookieSource.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QUrl>

// Plain requests to the stand-in for tests and benchmarks: no redirects followed, no cookie jar.
struct HttpResult {
    int status = 0;
    QByteArray body;
    QByteArray location;
    QByteArray setCookie;
};

inline HttpResult standinFetch(const QUrl& url, const QByteArray& postBody = {},
                               const QByteArray& cookie = {}, bool post = false) {
    QNetworkAccessManager network;
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    if (!cookie.isEmpty())
        request.setRawHeader("Cookie", cookie);
    QNetworkReply* reply = nullptr;
    if (post || !postBody.isEmpty()) {
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QByteArrayLiteral("application/x-www-form-urlencoded"));
        reply = network.post(request, postBody);
    } else {
        reply = network.get(request);
    }
    QSignalSpy done(reply, &QNetworkReply::finished);
    if (!reply->isFinished())
        done.wait(15000);
    HttpResult result;
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.body = reply->readAll();
    result.location = reply->rawHeader("Location");
    result.setCookie = reply->rawHeader("Set-Cookie");
    delete reply;
    return result;
}

// Signs in to the stand-in and gives the Cookie header value of the new session ("JSESSIONID=...").
inline QString standinSignIn(const QUrl& base, const QByteArray& user = "demo") {
    const HttpResult result =
        standinFetch(base.resolved(QUrl(QStringLiteral("/ehmsexp/jsp/login/login.jsp"))),
                     "username=" + user + "&password=demo123");
    const auto match = QRegularExpression(QStringLiteral("^(JSESSIONID=[0-9A-Fa-f]+)"))
                           .match(QString::fromLatin1(result.setCookie));
    return match.hasMatch() ? match.captured(1) : QString();
}

class FixedCookie : public CookieSource {
public:
    explicit FixedCookie(QString value = {}) : m_value(std::move(value)) {}
    QString cookieHeaderFor(const QUrl&) const override { return m_value; }
    void set(const QString& value) { m_value = value; }

private:
    QString m_value;
};
