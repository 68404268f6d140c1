#include "common/FormPost.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>

#include <memory>

FormPostHeaders& formPostHeaders() {
    static FormPostHeaders headers;
    return headers;
}

QString formPostTimeoutText() {
    return QStringLiteral("操作超时");
}

namespace {

void setHeaders(QNetworkRequest& request) {
    const FormPostHeaders& h = formPostHeaders();
    const std::pair<QByteArray, const QString*> ordered[] = {
        {QByteArrayLiteral("Content-Type"), &h.contentType},
        {QByteArrayLiteral("User-Agent"), &h.userAgent},
        {QByteArrayLiteral("Accept"), &h.accept},
        {QByteArrayLiteral("Accept-Language"), &h.acceptLanguage},
        {QByteArrayLiteral("Connection"), &h.connection},
        {QByteArrayLiteral("Cookie"), &h.cookie},
        {QByteArrayLiteral("Referer"), &h.referer},
        {QByteArrayLiteral("Authorization"), &h.authorization},
        {QByteArrayLiteral("X-Requested-With"), &h.requestedWith},
    };
    // Qt adds its own Accept-Language, User-Agent and Connection only when the request has none,
    // so a value set here is never sent twice.
    for (const auto& [name, value] : ordered) {
        if (!value->isEmpty())
            request.setRawHeader(name, value->toUtf8());
    }
}

// Errors that only mirror an HTTP status: a reply did arrive, so they are not transport failures.
bool isStatusError(QNetworkReply::NetworkError error) {
    const int code = error;
    return (code >= QNetworkReply::ContentAccessDenied && code <= QNetworkReply::UnknownContentError) ||
           (code >= QNetworkReply::InternalServerError && code <= QNetworkReply::UnknownServerError);
}

} // namespace

QNetworkReply* postForm(QNetworkAccessManager& network, const QUrl& address, const QString& body,
                        int timeoutMs, QObject* context, FormPostCallback done) {
    QNetworkRequest request(address);
    setHeaders(request);
    // Without a setting the stack would pick this same type itself, with a warning on every post.
    if (formPostHeaders().contentType.isEmpty())
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QByteArrayLiteral("application/x-www-form-urlencoded"));
    // The jar would replace the Cookie setting with whatever an earlier reply set.
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    // An inactivity limit: resolving, connecting, sending and receiving may each take this long.
    request.setTransferTimeout(std::max(0, timeoutMs));

    QNetworkReply* reply = network.post(request, body.toUtf8());
    auto abandoned = std::make_shared<bool>(false);
    QObject::connect(context, &QObject::destroyed, reply, [reply, abandoned] {
        *abandoned = true;
        reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
    QObject::connect(reply, &QNetworkReply::finished, context, [reply, abandoned, done = std::move(done)] {
        if (*abandoned)
            return;
        FormPostResult result;
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        const QNetworkReply::NetworkError error = reply->error();
        if (error != QNetworkReply::NoError && !isStatusError(error)) {
            result.failed = true;
            const bool timedOut =
                error == QNetworkReply::OperationCanceledError || error == QNetworkReply::TimeoutError;
            result.errorText = timedOut ? formPostTimeoutText() : reply->errorString();
        } else if (status.toInt() == 200) {
            result.text = QString::fromUtf8(reply->readAll());
        }
        done(result);
    });
    return reply;
}
