#include "common/NetworkTransport.h"

#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QTimer>

#include <memory>

namespace net {

namespace {

constexpr int kMaxRedirects = 5;

struct Exchange {
    QByteArray body;
    qint64 limit = 0;
    bool tooLarge = false;
    bool pastDeadline = false;
    bool abandoned = false;
};

bool overLimit(const Exchange& exchange, qint64 size) {
    return exchange.limit > 0 && size > exchange.limit;
}

} // namespace

void NetworkTransport::prepare(QNetworkRequest& qtRequest, int transferTimeoutMs) {
    qtRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                           QNetworkRequest::SameOriginRedirectPolicy);
    qtRequest.setMaximumRedirectsAllowed(kMaxRedirects);
    // Cookies are the caller's business: the jar must neither add any nor keep what a reply sets.
    qtRequest.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    qtRequest.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    qtRequest.setTransferTimeout(std::max(0, transferTimeoutMs));
}

Error NetworkTransport::errorFrom(QNetworkReply::NetworkError error) {
    switch (error) {
    // These only mirror the HTTP status of a reply that did arrive.
    case QNetworkReply::NoError:
    case QNetworkReply::ProtocolInvalidOperationError:
    case QNetworkReply::AuthenticationRequiredError:
    case QNetworkReply::ContentAccessDenied:
    case QNetworkReply::ContentNotFoundError:
    case QNetworkReply::ContentOperationNotPermittedError:
    case QNetworkReply::ContentConflictError:
    case QNetworkReply::ContentGoneError:
    case QNetworkReply::UnknownContentError:
    case QNetworkReply::InternalServerError:
    case QNetworkReply::OperationNotImplementedError:
    case QNetworkReply::ServiceUnavailableError:
    case QNetworkReply::UnknownServerError:
        return Error::None;
    // The transfer time-out aborts the reply; aborts of our own are told apart by the caller.
    case QNetworkReply::OperationCanceledError:
    case QNetworkReply::TimeoutError:
        return Error::Timeout;
    case QNetworkReply::HostNotFoundError:
        return Error::HostNotFound;
    case QNetworkReply::ConnectionRefusedError:
        return Error::ConnectionRefused;
    case QNetworkReply::RemoteHostClosedError:
        return Error::ConnectionClosed;
    case QNetworkReply::SslHandshakeFailedError:
        return Error::Tls;
    case QNetworkReply::InsecureRedirectError:
        return Error::OffOriginRedirect;
    case QNetworkReply::TooManyRedirectsError:
        return Error::TooManyRedirects;
    default:
        return Error::Network;
    }
}

void NetworkTransport::send(const Request& request, QObject* context, Callback done) {
    QNetworkRequest qtRequest(request.url);
    prepare(qtRequest, request.transferTimeoutMs);
    for (const auto& [name, value] : request.headers)
        qtRequest.setRawHeader(name, value);

    QNetworkReply* reply = nullptr;
    if (request.method == "POST")
        reply = m_network->post(qtRequest, request.body);
    else if (request.method == "GET")
        reply = m_network->get(qtRequest);
    else
        reply = m_network->sendCustomRequest(qtRequest, request.method, request.body);

    auto exchange = std::make_shared<Exchange>();
    exchange->limit = request.maxBodyBytes;
    auto stopTooLarge = [reply, exchange] {
        exchange->tooLarge = true;
        exchange->body.clear();
        reply->abort();
    };

    QObject::connect(reply, &QNetworkReply::redirected, reply, [exchange] { exchange->body.clear(); });
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, exchange, stopTooLarge] {
        // A declared length over the limit is refused before a byte of the body is read.
        bool known = false;
        const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
        if (known && overLimit(*exchange, length))
            stopTooLarge();
    });
    // Read as it comes, so the limit holds however the server paces or sizes its reply.
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, exchange, stopTooLarge] {
        exchange->body += reply->readAll();
        if (overLimit(*exchange, exchange->body.size()))
            stopTooLarge();
    });
    if (request.deadlineMs > 0) {
        auto* deadline = new QTimer(reply);
        deadline->setSingleShot(true);
        deadline->setTimerType(Qt::PreciseTimer);
        QObject::connect(deadline, &QTimer::timeout, reply, [reply, exchange] {
            exchange->pastDeadline = true;
            reply->abort();
        });
        deadline->start(request.deadlineMs);
    }
    QObject::connect(context, &QObject::destroyed, reply, [reply, exchange] {
        exchange->abandoned = true;
        reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
    QObject::connect(reply, &QNetworkReply::finished, context, [reply, exchange, done = std::move(done)] {
        if (exchange->abandoned)
            return;
        if (!exchange->tooLarge) {
            exchange->body += reply->readAll();
            if (overLimit(*exchange, exchange->body.size()))
                exchange->tooLarge = true;
        }
        Result result;
        result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        result.finalUrl = reply->url();
        result.qtError = reply->error();
        if (exchange->tooLarge)
            result.error = Error::TooLarge;
        else if (exchange->pastDeadline)
            result.error = Error::Timeout;
        else
            result.error = errorFrom(reply->error());
        if (result.error == Error::None)
            result.body = std::move(exchange->body);
        done(result);
    });
}

} // namespace net
