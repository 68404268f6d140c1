#pragma once

#include "common/HttpExchange.h"
#include "query/CookieSource.h"
#include "query/SessionPostClient.h"

#include <QList>
#include <QPointer>
#include <QTimer>

// A transport that answers requests from a function, at once (queued) or when the test releases
// them; the run above it goes through the real session client.
class FakeTransport : public net::Transport {
public:
    struct Request {
        QUrl url;
        QByteArray body;
        QPointer<QObject> context;
        net::Callback done;
        bool answered = false;
    };

    std::function<QString(const Request&)> answer = [](const Request&) { return QString(); };
    std::function<bool(const Request&)> hold = [](const Request&) { return false; };
    // When set, the whole result (status, error, final address) of a request; the body is answer's.
    std::function<void(const Request&, net::Result&)> shape;
    QList<Request> requests;

    void send(const net::Request& request, QObject* context, net::Callback done) override {
        requests.append({request.url, request.body, context, std::move(done)});
        if (!hold(requests.last()))
            release(int(requests.size()) - 1);
    }

    void release(int index) {
        Request& request = requests[index];
        request.answered = true;
        net::Result result;
        result.status = 200;
        result.finalUrl = request.url;
        result.body = answer(request).toUtf8();
        if (shape)
            shape(request, result);
        auto done = request.done;
        QTimer::singleShot(0, request.context.data(), [done, result] { done(result); });
    }

    bool isResource(int index) const {
        return requests[index].url.path().endsWith(QLatin1String("ResouceInfo"));
    }
};

struct FakeCookie : CookieSource {
    QString value = QStringLiteral("JSESSIONID=1");
    QString cookieHeaderFor(const QUrl&) const override { return value; }
};

// The session client over a fake transport, as the run's tests use it.
struct FakePostClient : FakeTransport {
    FakeCookie cookie;
    SessionPostClient session{this, &cookie};
};
