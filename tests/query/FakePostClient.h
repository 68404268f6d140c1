#pragma once

#include "query/SessionPostClient.h"

#include <QList>
#include <QPointer>
#include <QTimer>

// Answers requests from a function, at once (queued) or when the test releases them.
class FakePostClient : public SessionPostClient {
public:
    struct Request {
        QUrl url;
        QByteArray body;
        QPointer<QObject> context;
        std::function<void(const QString&)> done;
        bool answered = false;
    };

    FakePostClient() : SessionPostClient(nullptr, nullptr) {}

    std::function<QString(const Request&)> answer = [](const Request&) { return QString(); };
    std::function<bool(const Request&)> hold = [](const Request&) { return false; };
    QList<Request> requests;

    void PostHtml(const QUrl& url, const QByteArray& body, QObject* context,
                  std::function<void(const QString&)> done) override {
        requests.append({url, body, context, std::move(done)});
        if (!hold(requests.last()))
            release(int(requests.size()) - 1);
    }

    void release(int index) {
        Request& request = requests[index];
        request.answered = true;
        const QString reply = answer(request);
        auto done = request.done;
        QTimer::singleShot(0, request.context.data(), [done, reply] { done(reply); });
    }

    bool isResource(int index) const {
        return requests[index].url.path().endsWith(QLatin1String("ResouceInfo"));
    }
};
