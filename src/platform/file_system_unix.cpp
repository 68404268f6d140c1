#include "platform/FileSystem.h"

#include <QFile>
#include <QFileDevice>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Notes why the call that just failed did; false, for the caller to return.
bool failed() {
    const int code = errno;
    FileFault::Kind kind = FileFault::Kind::Other;
    switch (code) {
    case EACCES:
    case EPERM:
        kind = FileFault::Kind::AccessDenied;
        break;
    case EBUSY:
    case ETXTBSY:
        kind = FileFault::Kind::InUse;
        break;
    case EISDIR:
    case ENOTEMPTY:
        kind = FileFault::Kind::IsFolder;
        break;
    case ENOSPC:
    case EDQUOT:
        kind = FileFault::Kind::DiskFull;
        break;
    case EROFS:
        kind = FileFault::Kind::ReadOnlyDisk;
        break;
    case ENOENT:
    case ENOTDIR:
        kind = FileFault::Kind::Missing;
        break;
    default:
        break;
    }
    noteFault({kind, code});
    return false;
}

} // namespace

// A rename is durable only once the folder that holds the name is written too.
bool syncFolder(const QString& path) {
    const QByteArray folder = QFile::encodeName(path);
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return failed();
    int result = 0;
    do {
        result = ::fsync(fd);
    } while (result != 0 && errno == EINTR);
    if (result != 0)
        failed();
    ::close(fd);
    return result == 0;
}

bool renameFile(const QString& from, const QString& to) {
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0 || failed();
}

bool linkFile(const QString& from, const QString& to) {
    return ::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0 || failed();
}

bool createFile(QFile& file) {
    // NewOnly: an existing name, a link included, is never opened. Unbuffered: a write that fails
    // says so itself.
    return file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered) || failed();
}

bool writeFile(QFile& file, const QByteArray& bytes) {
    errno = 0;
    return file.write(bytes) == bytes.size() || failed();
}

bool syncFile(QFileDevice& file) {
    if (!file.flush())
        return failed();
    int result = 0;
    do {
        result = ::fsync(file.handle());
    } while (result != 0 && errno == EINTR);
    return result == 0 || failed();
}

bool isLink(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISLNK(info.st_mode);
}

void hideFolder(const QString&) {
    // The leading dot of the name hides it already.
}

} // namespace platform
