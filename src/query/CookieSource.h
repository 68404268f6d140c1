#pragma once

#include <QString>
#include <QUrl>

// Where the session cookie comes from at the moment of each request: the login window's browser
// in the product, a plain jar or a fixed text in tests.
class CookieSource {
public:
    virtual ~CookieSource() = default;
    // The value of one Cookie header for a request to this address; empty when there is none.
    virtual QString cookieHeaderFor(const QUrl& url) const = 0;
};
