#include "platform/Elevation.h"

namespace platform {

bool isElevated() {
    return true;
}

bool restartElevated(const QString&) {
    return false;
}

} // namespace platform
