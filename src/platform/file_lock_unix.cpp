#include "platform/FileLock.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

namespace {

// Locks an open file; closes it unless taken.
FileLock::State lock(int fd) {
    int result = 0;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0)
        return FileLock::State::Taken;
    const bool held = errno == EWOULDBLOCK;
    ::close(fd);
    return held ? FileLock::State::Held : FileLock::State::CannotMake;
}

} // namespace

std::unique_ptr<FileLock> FileLock::take(const QString& path, State* state) {
    // Close-on-exec: a program this one starts must not inherit the lock.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        *state = State::CannotMake;
        return nullptr;
    }
    *state = lock(fd);
    return *state == State::Taken ? std::unique_ptr<FileLock>(new FileLock(fd)) : nullptr;
}

bool FileLock::isHeld(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const State state = lock(fd);
    if (state == State::Taken)
        ::close(fd);
    return state == State::Held;
}

FileLock::~FileLock() {
    ::close(static_cast<int>(m_handle));
}

} // namespace platform
