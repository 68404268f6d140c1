#pragma once

#include "common/FormPost.h"
#include "update_client/UpdateDecision.h"

#include <QObject>
#include <QString>

namespace net {
class Transport;
}

// Asks the update server for the current version and decides: nothing to install, an update, or
// a failure with the text of the prompt to show.
class UpdateCheck : public QObject {
    Q_OBJECT

public:
    // A check that is destroyed while it waits aborts its request and reports nothing.
    explicit UpdateCheck(net::Transport* transport, QObject* parent = nullptr);

    static constexpr int kDefaultTimeoutMs = 15000;
    // The start-up waits no longer than this for the whole version exchange.
    static constexpr int kDeadlineMs = 30000;
    void setTimeout(int milliseconds) { m_timeoutMs = milliseconds; }
    void setDeadline(int milliseconds) { m_deadlineMs = milliseconds; }

    // Posts the version request; exactly one of upToDate, updateNeeded or failed follows.
    void start();

signals:
    void serverVersionRead(const QString& version);
    void upToDate();
    void updateNeeded(const UpdateInfo& info);
    void failed(const QString& promptText);

private:
    net::Transport* m_transport;
    FormPostHeaders m_headers;
    int m_timeoutMs = kDefaultTimeoutMs;
    int m_deadlineMs = kDeadlineMs;
};
