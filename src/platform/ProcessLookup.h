#pragma once

#include <QString>

namespace platform {

// Whether a running process has this executable file name (name and extension, no folder).
// Any name the lookup cannot handle, or a lookup that fails, answers false: "not running".
bool isProcessRunning(const QString& fileName);

} // namespace platform
