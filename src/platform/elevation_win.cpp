#include "platform/Elevation.h"

#include <QDir>
#include <QFileInfo>

// windows.h first: the shell headers depend on what it declares.
#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>

namespace platform {

bool isElevated() {
    return IsUserAnAdmin() != FALSE;
}

bool restartElevated(const QString& programPath) {
    const QFileInfo info(programPath);
    const std::wstring file = info.fileName().toStdWString();
    const std::wstring folder = QDir::toNativeSeparators(info.absolutePath()).toStdWString();
    const auto result = ShellExecuteW(nullptr, L"runas", file.c_str(), L"", folder.c_str(), SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

} // namespace platform
