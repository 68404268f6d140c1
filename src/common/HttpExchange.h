#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <utility>

class QObject;

// The one way the program talks HTTP: a request, a result with a named error, and a transport that
// carries it. Form posts of the update check, the session posts of the query run and the update
// downloads all go through here, so that limits, redirects and error texts cannot drift apart.
namespace net {

enum class Error {
    None,              // a reply arrived; status says what the server answered
    Timeout,           // no progress within the transfer time-out, or past the deadline
    HostNotFound,      // the name did not resolve
    ConnectionRefused, // nothing listens there
    ConnectionClosed,  // the server closed the connection before the reply was whole
    Tls,               // the secure connection could not be set up
    OffOriginRedirect, // a redirect to another scheme, host or port
    TooManyRedirects,
    TooLarge, // the body passed the request's limit
    Stopped,  // the request's sink refused what came; it knows why
    Network,  // any other transport failure
};

// Takes the body of the final reply as it arrives, instead of the transport keeping it, when that
// reply's status is 200; the bodies of other replies are dropped. Either call may refuse, which
// ends the exchange as Stopped.
class BodySink {
public:
    virtual ~BodySink() = default;
    // The head of the final reply: its declared length, -1 when it names none.
    virtual bool begin(qint64 contentLength) = 0;
    virtual bool write(const QByteArray& chunk) = 0;
};

struct Request {
    QUrl url;
    QByteArray method = QByteArrayLiteral("POST");
    QByteArray body;
    QList<std::pair<QByteArray, QByteArray>> headers; // sent in this order, each once
    int transferTimeoutMs = 0;                        // longest stretch without progress; 0: none
    int deadlineMs = 0;                               // whole exchange; 0: none
    qint64 maxBodyBytes = 0;                          // a longer body fails as TooLarge
    std::shared_ptr<BodySink> sink;                   // streams the body; Result::body stays empty
};

struct Result {
    Error error = Error::None;
    int status = 0;         // HTTP status of the final reply; 0 when none arrived
    QByteArray body;        // the final reply's body, whatever its status; empty on a failure
    QByteArray contentType; // the final reply's Content-Type, which may name its charset
    QUrl finalUrl;          // after same-origin redirects
    int qtError = 0;        // the network layer's own code, named in descriptions of Error::Network
    bool arrived() const { return error == Error::None; }
};

using Callback = std::function<void(const Result&)>;

// Carries requests. Redirects are followed only within the request's origin (scheme, host and
// port), so nothing sent with a request ever reaches another server; cookies are never stored or
// added by the transport. done runs exactly once, later (never inside send), on the context's
// thread; when the context is destroyed first, the exchange is aborted and done never runs.
class Transport {
public:
    virtual ~Transport() = default;
    virtual void send(const Request& request, QObject* context, Callback done) = 0;
};

} // namespace net
