#include "platform/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace platform {

bool replaceFile(const QString& from, const QString& to) {
    if (!renameFile(from, to))
        return false;
    const QString toFolder = QFileInfo(to).absolutePath();
    const QString fromFolder = QFileInfo(from).absolutePath();
    const bool synced = syncFolder(toFolder);
    return (fromFolder == toFolder || syncFolder(fromFolder)) && synced;
}

bool FileSteps::remove(const QString& file) {
    return QFile::remove(file);
}

bool FileSteps::removeFolder(const QString& path) {
    if (isLink(path))
        return false;
    return QDir(path).removeRecursively();
}

bool FileSteps::makeFolder(const QString& path) {
    return QDir().mkdir(path);
}

FileSteps& diskSteps() {
    static FileSteps steps;
    return steps;
}

} // namespace platform
