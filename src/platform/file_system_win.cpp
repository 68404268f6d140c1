#include "platform/FileSystem.h"

#include <QDir>
#include <QFileDevice>
#include <QRandomGenerator>

#include <io.h>
#include <windows.h>

using namespace Qt::StringLiterals;

namespace platform {

namespace {

std::wstring native(const QString& path) {
    return QDir::toNativeSeparators(path).toStdWString();
}

} // namespace

bool replaceFile(const QString& from, const QString& to) {
    const std::wstring source = native(from);
    const std::wstring target = native(to);
    // WRITE_THROUGH: the call returns only once the move is on the disk.
    constexpr DWORD kReplace = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (MoveFileExW(source.c_str(), target.c_str(), kReplace))
        return true;
    if (GetLastError() != ERROR_ACCESS_DENIED)
        return false;
    // A running program cannot be replaced, but it can be renamed: it steps aside under a name of
    // its own, the new file takes its place, and the old one goes once nothing runs it.
    std::wstring aside;
    for (int attempt = 0;; ++attempt) {
        aside = native(
            u"%1.%2.replaced"_s.arg(to).arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
        if (MoveFileExW(target.c_str(), aside.c_str(), MOVEFILE_WRITE_THROUGH))
            break;
        const DWORD error = GetLastError();
        if ((error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) || attempt == 8)
            return false;
    }
    if (!MoveFileExW(source.c_str(), target.c_str(), kReplace)) {
        MoveFileExW(aside.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
        return false;
    }
    if (!DeleteFileW(aside.c_str()))
        MoveFileExW(aside.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return true;
}

bool syncFile(QFileDevice& file) {
    if (!file.flush())
        return false;
    const intptr_t handle = _get_osfhandle(file.handle());
    return handle != -1 && FlushFileBuffers(reinterpret_cast<HANDLE>(handle)) != FALSE;
}

bool isLink(const QString& path) {
    const DWORD attributes = GetFileAttributesW(native(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

void hideFolder(const QString& path) {
    const std::wstring name = native(path);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesW(name.c_str(), attributes | FILE_ATTRIBUTE_HIDDEN);
}

} // namespace platform
