#pragma once

#include "common/HttpExchange.h"

#include <QNetworkReply>

class QNetworkAccessManager;
class QNetworkRequest;

namespace net {

// The transport over Qt's network access manager.
class NetworkTransport : public Transport {
public:
    explicit NetworkTransport(QNetworkAccessManager* network) : m_network(network) {}

    void send(const Request& request, QObject* context, Callback done) override;

    // Settings every request of the program shares: same-origin redirects only, no cookie jar,
    // the transfer time-out. Downloads that stream to disk use it too.
    static void prepare(QNetworkRequest& qtRequest, int transferTimeoutMs);
    static Error errorFrom(QNetworkReply::NetworkError error);
    // The body length a final reply's Content-Length value declares, or -1. After a followed
    // redirect Qt may keep the redirect's own value and append the final reply's ("0, 2097155").
    static qint64 declaredLength(const QByteArray& value);

private:
    QNetworkAccessManager* m_network;
};

} // namespace net
