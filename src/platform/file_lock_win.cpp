#include "platform/FileLock.h"

#include <QDir>

#include <windows.h>

namespace platform {

namespace {

// Not inheritable: a program this one starts must not hold the lock.
HANDLE open(const QString& path, DWORD disposition) {
    return CreateFileW(QDir::toNativeSeparators(path).toStdWString().c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// An older version held its lock file open without sharing it.
FileLock::State openFailed() {
    return GetLastError() == ERROR_SHARING_VIOLATION ? FileLock::State::Held : FileLock::State::CannotMake;
}

// Locks an open file; closes it unless taken.
FileLock::State lock(HANDLE handle) {
    OVERLAPPED at{};
    if (LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
        return FileLock::State::Taken;
    const DWORD error = GetLastError();
    CloseHandle(handle);
    return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ? FileLock::State::Held
                                                                      : FileLock::State::CannotMake;
}

} // namespace

std::unique_ptr<FileLock> FileLock::take(const QString& path, State* state) {
    const HANDLE handle = open(path, OPEN_ALWAYS);
    if (handle == INVALID_HANDLE_VALUE) {
        *state = openFailed();
        return nullptr;
    }
    *state = lock(handle);
    return *state == State::Taken ? std::unique_ptr<FileLock>(new FileLock(reinterpret_cast<qintptr>(handle)))
                                  : nullptr;
}

bool FileLock::isHeld(const QString& path) {
    const HANDLE handle = open(path, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE)
        return openFailed() == State::Held;
    const State state = lock(handle);
    if (state == State::Taken)
        CloseHandle(handle);
    return state == State::Held;
}

// Closing the handle lets the lock go.
FileLock::~FileLock() {
    CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

} // namespace platform
