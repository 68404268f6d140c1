#pragma once

#include "BuildConfig.h"

#include <QString>

// Product code by which the update server knows this program.
inline QString productCode() {
    return QStringLiteral("vesmora");
}

// Major, minor and revision of the build, joined by "." (the revision is shown even when 0).
inline QString installedVersion() {
    return QStringLiteral(VESMORA_VERSION_TEXT);
}

inline QString applicationTitle() {
    return QStringLiteral("Vesmora");
}
