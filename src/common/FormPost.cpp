#include "common/FormPost.h"

#include "common/ErrorText.h"
#include "common/ReplyText.h"

namespace {

QList<std::pair<QByteArray, QByteArray>> orderedHeaders(const FormPostHeaders& h) {
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
    QList<std::pair<QByteArray, QByteArray>> headers;
    for (const auto& [name, value] : ordered) {
        if (!value->isEmpty())
            headers.append({name, value->toUtf8()});
    }
    // Without a setting the stack would pick this same type itself, with a warning on every post.
    if (h.contentType.isEmpty())
        headers.prepend(
            {QByteArrayLiteral("Content-Type"), QByteArrayLiteral("application/x-www-form-urlencoded")});
    return headers;
}

} // namespace

void postForm(net::Transport& transport, const QUrl& address, const QString& body,
              const FormPostHeaders& headers, int timeoutMs, QObject* context, FormPostCallback done,
              int deadlineMs) {
    net::Request request;
    request.url = address;
    request.body = body.toUtf8();
    request.headers = orderedHeaders(headers);
    request.transferTimeoutMs = timeoutMs;
    request.deadlineMs = deadlineMs;
    request.maxBodyBytes = kFormPostReplyLimit;
    transport.send(request, context, [done = std::move(done)](const net::Result& reply) {
        FormPostResult result;
        if (!reply.arrived()) {
            result.failed = true;
            result.errorText = describeHttp(reply);
        } else if (reply.status == 200) {
            result.text = replyText(reply.body, reply.contentType);
        }
        done(result);
    });
}
