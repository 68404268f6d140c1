#include "common/NetworkTransport.h"

#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QTimer>

#include <memory>

namespace net {

namespace {

constexpr int kMaxRedirects = 5;

// Bounds what the network layer holds for a sink, which takes the body as fast as it comes.
constexpr qint64 kSinkBuffer = 1024 * 1024;

struct Exchange {
    QByteArray body;
    qint64 received = 0;
    qint64 limit = 0;
    std::shared_ptr<BodySink> sink;
    int status = 0;
    bool begun = false;
    bool tooLarge = false;
    bool stopped = false;
    bool pastDeadline = false;
    bool abandoned = false;
    bool ended() const { return tooLarge || stopped || pastDeadline || abandoned; }
    bool streams() const { return sink && status == 200; }
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

qint64 NetworkTransport::declaredLength(const QByteArray& value) {
    // The final reply's value comes last.
    bool known = false;
    const qint64 length = value.mid(value.lastIndexOf(',') + 1).trimmed().toLongLong(&known);
    return known && length >= 0 ? length : -1;
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
    exchange->sink = request.sink;
    if (exchange->sink)
        reply->setReadBufferSize(kSinkBuffer);

    // Ends the exchange for a reason of ours; the reply reports it as canceled.
    auto stop = [reply, exchange](bool Exchange::*reason) {
        (*exchange).*reason = true;
        exchange->body.clear();
        reply->abort();
    };
    // The final reply's head, once: a redirect's own head comes first and does not count, and a
    // declared length over the limit is refused before a byte of the body is read.
    auto head = [reply, exchange, stop] {
        if (exchange->begun || exchange->ended())
            return;
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status >= 300 && status < 400 && reply->isRunning())
            return;
        exchange->begun = true;
        exchange->status = status;
        const qint64 length = declaredLength(reply->rawHeader("Content-Length"));
        if (length >= 0 && overLimit(*exchange, length)) {
            stop(&Exchange::tooLarge);
            return;
        }
        if (exchange->streams() && !exchange->sink->begin(length))
            stop(&Exchange::stopped);
    };
    // Read as it comes, so the limit holds however the server paces or sizes its reply.
    // Bytes that come before the final reply's head wait in the reply until it is read.
    auto take = [reply, exchange, stop, head](bool atEnd) {
        if (atEnd)
            head();
        if (!exchange->begun || exchange->ended() || !reply->isOpen())
            return;
        const QByteArray chunk = reply->readAll();
        if (chunk.isEmpty())
            return;
        // The body of an error page that streams nowhere is no one's.
        if (exchange->sink && !exchange->streams())
            return;
        exchange->received += chunk.size();
        if (overLimit(*exchange, exchange->received)) {
            stop(&Exchange::tooLarge);
            return;
        }
        if (!exchange->sink)
            exchange->body += chunk;
        else if (!exchange->sink->write(chunk))
            stop(&Exchange::stopped);
    };

    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [head, take] {
        head();
        take(false);
    });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [take] { take(false); });
    // A redirect's own body is no part of the reply that follows it.
    QObject::connect(reply, &QNetworkReply::redirected, reply, [reply, exchange] {
        if (!exchange->begun && reply->isOpen())
            reply->readAll();
    });
    if (request.deadlineMs > 0) {
        auto* deadline = new QTimer(reply);
        deadline->setSingleShot(true);
        deadline->setTimerType(Qt::PreciseTimer);
        QObject::connect(deadline, &QTimer::timeout, reply, [stop] { stop(&Exchange::pastDeadline); });
        deadline->start(request.deadlineMs);
    }
    QObject::connect(context, &QObject::destroyed, reply, [reply, exchange] {
        exchange->abandoned = true;
        reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
    QObject::connect(reply, &QNetworkReply::finished, context,
                     [reply, exchange, take, done = std::move(done)] {
                         if (exchange->abandoned)
                             return;
                         take(true);
                         Result result;
                         result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
                         result.finalUrl = reply->url();
                         result.contentType = reply->rawHeader("Content-Type");
                         result.qtError = reply->error();
                         if (exchange->tooLarge)
                             result.error = Error::TooLarge;
                         else if (exchange->stopped)
                             result.error = Error::Stopped;
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
