#include "platform/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace platform {

namespace {

thread_local FileFault t_lastFault;

} // namespace

FileFault lastFault() {
    return t_lastFault;
}

void noteFault(FileFault fault) {
    t_lastFault = fault;
}

bool replaceFile(const QString& from, const QString& to) {
    if (!renameFile(from, to))
        return false;
    const QString toFolder = QFileInfo(to).absolutePath();
    const QString fromFolder = QFileInfo(from).absolutePath();
    const bool synced = syncFolder(toFolder);
    return (fromFolder == toFolder || syncFolder(fromFolder)) && synced;
}

bool FileSteps::remove(const QString& file) {
    if (QFile::remove(file))
        return true;
    noteFault({FileFault::Kind::Other, 0});
    return false;
}

bool FileSteps::removeFolder(const QString& path) {
    if (!isLink(path) && QDir(path).removeRecursively())
        return true;
    noteFault({FileFault::Kind::Other, 0});
    return false;
}

bool FileSteps::makeFolder(const QString& path) {
    if (QDir().mkdir(path))
        return true;
    noteFault({FileFault::Kind::Other, 0});
    return false;
}

FileSteps& diskSteps() {
    static FileSteps steps;
    return steps;
}

} // namespace platform
