#pragma once

#include <QString>
#include <QUrl>

#include <functional>

class QNetworkAccessManager;
class QNetworkReply;
class QObject;

// Optional request headers shared by every form post of the program. All start empty; a caller
// sets what it needs and nothing clears them, so a value once set goes out with every later post.
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

FormPostHeaders& formPostHeaders();

struct FormPostResult {
    QString text;        // the reply body for status 200, empty for any other status
    bool failed = false; // the transport failed: no reply arrived (refused, unresolvable, time-out, TLS)
    QString errorText;   // the failure's description when failed
};

using FormPostCallback = std::function<void(const FormPostResult&)>;

// One POST of a form body (sent as UTF-8) with the module-wide headers, in their fixed order, for
// those that are not empty. The time-out applies to each phase: a request that makes no progress
// for that long fails. done runs once, on the context's thread, unless the context is destroyed
// first (the request is then aborted). The returned reply deletes itself after done.
QNetworkReply* postForm(QNetworkAccessManager& network, const QUrl& address, const QString& body,
                        int timeoutMs, QObject* context, FormPostCallback done);

// The description given for a request that ran into its time-out.
QString formPostTimeoutText();
