#include "platform/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileDevice>

#include <io.h>
#include <windows.h>

namespace platform {

namespace {

std::wstring native(const QString& path) {
    return QDir::toNativeSeparators(path).toStdWString();
}

FileFault faultOf(DWORD code) {
    FileFault::Kind kind = FileFault::Kind::Other;
    switch (code) {
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
        kind = FileFault::Kind::AccessDenied;
        break;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
        kind = FileFault::Kind::InUse;
        break;
    case ERROR_DIRECTORY:
    case ERROR_DIR_NOT_EMPTY:
        kind = FileFault::Kind::IsFolder;
        break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        kind = FileFault::Kind::DiskFull;
        break;
    case ERROR_WRITE_PROTECT:
        kind = FileFault::Kind::ReadOnlyDisk;
        break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        kind = FileFault::Kind::Missing;
        break;
    default:
        break;
    }
    return {kind, static_cast<int>(code)};
}

// Notes why the call that just failed did; false, for the caller to return.
bool failed() {
    noteFault(faultOf(GetLastError()));
    return false;
}

} // namespace

// A program that runs cannot be replaced; it is never renamed aside either, for its name would be
// missing until the new file took it, and only the main program finishes an update.
bool renameFile(const QString& from, const QString& to) {
    // WRITE_THROUGH: the call returns only once the move is on the disk.
    return MoveFileExW(native(from).c_str(), native(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE ||
           failed();
}

bool linkFile(const QString& from, const QString& to) {
    return CreateHardLinkW(native(to).c_str(), native(from).c_str(), nullptr) != FALSE || failed();
}

bool createFile(QFile& file) {
    // NewOnly: an existing name, a link included, is never opened. Unbuffered: a write that fails
    // says so itself.
    return file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered) || failed();
}

bool writeFile(QFile& file, const QByteArray& bytes) {
    SetLastError(ERROR_SUCCESS);
    return file.write(bytes) == bytes.size() || failed();
}

// Renames are written through already; this covers what a folder gains or loses otherwise. Not
// every volume lets a folder be flushed (FAT, some network shares): there the step has done what
// the system offers, and an update must not fail for it.
bool syncFolder(const QString& folder) {
    // A folder opened for writing flushes its entries; backup semantics let a folder be opened.
    const HANDLE handle = CreateFileW(native(folder).c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            noteFault(faultOf(error));
            return false;
        }
        return true;
    }
    const bool flushed = FlushFileBuffers(handle) != FALSE;
    const DWORD error = flushed ? ERROR_SUCCESS : GetLastError();
    CloseHandle(handle);
    return flushed || error == ERROR_INVALID_FUNCTION || error == ERROR_ACCESS_DENIED ||
           error == ERROR_NOT_SUPPORTED;
}

bool syncFile(QFileDevice& file) {
    if (!file.flush())
        return failed();
    const intptr_t handle = _get_osfhandle(file.handle());
    return (handle != -1 && FlushFileBuffers(reinterpret_cast<HANDLE>(handle)) != FALSE) || failed();
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
