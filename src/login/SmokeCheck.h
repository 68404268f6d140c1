#pragma once

#include <QObject>
#include <QTimer>

class Frmlogin;

// VESMORA_SMOKE=1: the program shows that it reaches the sign-in page, then ends by itself, with
// status 0 once the login window has loaded that page, or 1 and the reason on standard error when
// it does not within the time allowed, a page fails, or any message box comes up first. Made for
// a check of a fresh install, which has no one to click.
class SmokeCheck : public QObject {
public:
    static bool wanted();

    explicit SmokeCheck(QObject* parent = nullptr);
    void watch(Frmlogin* login);

private:
    void end(int code, const QString& what);

    QTimer m_deadline;
    bool m_ended = false;
};
