#pragma once

#include "common/HttpExchange.h"

#include <QString>
#include <QUrl>

#include <functional>

class QObject;

// Optional request headers of a form post, sent in this order when not empty. The caller owns
// them: a value it once sets goes out with each of its later posts.
struct FormPostHeaders {
    QString contentType;
    QString userAgent;
    QString accept;
    QString acceptLanguage;
    QString connection;
    QString cookie;
    QString referer;
    QString authorization;
    QString requestedWith; // X-Requested-With
};

struct FormPostResult {
    QString text;        // the reply body for status 200, empty for any other status
    bool failed = false; // no usable reply arrived (refused, unresolvable, time-out, TLS, too large, ...)
    QString errorText;   // the failure's description when failed
};

using FormPostCallback = std::function<void(const FormPostResult&)>;

// Longest reply a form post reads; a longer one is a failure, so a server that never stops
// sending cannot exhaust memory.
constexpr qint64 kFormPostReplyLimit = 1024 * 1024;

// One POST of a form body (sent as UTF-8). The time-out applies to each phase: a request that makes
// no progress for that long fails. A deadline, when given, bounds the whole exchange, so that a
// server that sends a byte now and then cannot hold the request for ever. done runs once, later,
// on the context's thread, unless the context is destroyed first (the request is then aborted).
void postForm(net::Transport& transport, const QUrl& address, const QString& body,
              const FormPostHeaders& headers, int timeoutMs, QObject* context, FormPostCallback done,
              int deadlineMs = 0);
