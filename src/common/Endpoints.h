#pragma once

#include <QString>
#include <QUrl>

// Addresses the program talks to. Each is a build-time constant that the environment variable of
// the same name replaces (the stand-in servers and the tests use that) in builds made with
// VESMORA_ADDRESS_OVERRIDES, the default everywhere but Windows.
namespace endpoints {

QUrl operatorBase(); // VESMORA_OPERATOR_URL: scheme, host and port
QUrl updateBase();   // VESMORA_UPDATE_URL: scheme, host and port
QUrl vendorSite();   // VESMORA_VENDOR_URL: the whole address

// Base address + an absolute path that may carry a query ("/a/b?x=1").
QUrl resolve(const QUrl& base, const QString& pathAndQuery);

// The operator system's pages and lookups, by default on operatorBase().
QUrl signInPage(const QUrl& base = operatorBase());
QUrl resourceLookup(const QUrl& base = operatorBase());
QUrl powerLookup(const QUrl& base = operatorBase());
QUrl updateCheck();
QUrl downloadFolder(); // ends in "/"

} // namespace endpoints
