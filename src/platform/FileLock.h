#pragma once

#include <QString>

#include <memory>

namespace platform {

// A lock the system holds on a file for one process: released with the object, or with the
// process however it ends, so a dead holder never counts whatever its process number now names.
// The file itself stays; only the lock on it matters.
class FileLock {
public:
    enum class State {
        Taken,
        Held,       // another process holds it, or this one through another FileLock
        CannotMake, // the file cannot be opened or locked at all (folder not writable)
    };

    // The lock taken, or nothing; `state` says which.
    static std::unique_ptr<FileLock> take(const QString& path, State* state);

    // Whether another process (or another FileLock) holds it now. Looking takes it for a moment
    // when it is free; a missing file is free, and is not made.
    static bool isHeld(const QString& path);

    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    explicit FileLock(qintptr handle) : m_handle(handle) {}
    qintptr m_handle;
};

} // namespace platform
