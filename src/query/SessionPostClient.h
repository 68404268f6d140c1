#pragma once

// CONTRACT (to be implemented): the login window and the query run rely on this surface.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

class CookieSource;
class QNetworkAccessManager;

// One form POST to the operator system on behalf of the signed-in user.
class SessionPostClient : public QObject {
    Q_OBJECT

public:
    SessionPostClient(QNetworkAccessManager* network, const CookieSource* cookies, QObject* parent = nullptr);

    // The reply body decoded as UTF-8, or the empty text after the timeout, on a transport
    // failure or for an empty body. The callback runs later, never inside this call, and not at
    // all once context is gone.
    void PostHtml(const QUrl& url, const QByteArray& body, QObject* context,
                  std::function<void(const QString& reply)> done);
};
