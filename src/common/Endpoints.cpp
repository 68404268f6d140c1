#include "common/Endpoints.h"

#include "BuildConfig.h"

#include <QByteArray>

namespace endpoints {

namespace {

QUrl fromEnvironment(const char* name, const char* fallback) {
    const QByteArray value = VESMORA_ADDRESS_OVERRIDES ? qgetenv(name) : QByteArray();
    return QUrl(QString::fromUtf8(value.isEmpty() ? QByteArray(fallback) : value));
}

} // namespace

QUrl operatorBase() {
    return fromEnvironment("VESMORA_OPERATOR_URL", VESMORA_DEFAULT_OPERATOR_URL);
}
QUrl updateBase() {
    return fromEnvironment("VESMORA_UPDATE_URL", VESMORA_DEFAULT_UPDATE_URL);
}
QUrl vendorSite() {
    return fromEnvironment("VESMORA_VENDOR_URL", VESMORA_DEFAULT_VENDOR_URL);
}

QUrl resolve(const QUrl& base, const QString& pathAndQuery) {
    QString text = base.toString(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment);
    while (text.endsWith(QLatin1Char('/')))
        text.chop(1);
    return QUrl(text + pathAndQuery);
}

QUrl signInPage(const QUrl& base) {
    return resolve(base, QStringLiteral("/ehmsexp/jsp/login/login.jsp"));
}

QUrl resourceLookup(const QUrl& base) {
    return resolve(base, QStringLiteral("/ehmsexp/rest/install/queryRmwResouceInfo?testType=2"));
}

QUrl powerLookup(const QUrl& base) {
    return resolve(base, QStringLiteral("/ehmsexp/rest/install/queryPowerInfo?testType=2"));
}

QUrl updateCheck() {
    return resolve(updateBase(), QStringLiteral("/soft/api/update.asp"));
}

QUrl downloadFolder() {
    return resolve(updateBase(), QStringLiteral("/soft/uploads/vesmora/"));
}

} // namespace endpoints
