#include "updater/FileSwap.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

void makeExecutable(const QString& path) {
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                    QFileDevice::ExeUser | QFileDevice::ExeGroup | QFileDevice::ExeOther);
}

} // namespace

SwapResult swapIn(const QString& copyPath, const QString& targetPath, bool executable) {
    if (!QFileInfo(copyPath).isFile())
        return SwapResult::NoCopy;
    QDir().mkpath(QFileInfo(targetPath).absolutePath());

    // The old file moves aside first and is only dropped once the new one is in place.
    const QString backup = targetPath + QStringLiteral(".old");
    const bool hadTarget = QFileInfo::exists(targetPath);
    if (hadTarget) {
        if (QFileInfo::exists(backup) && !QFile::remove(backup))
            return SwapResult::Kept;
        if (!QFile::rename(targetPath, backup))
            return SwapResult::Kept;
    }
    if (!QFile::rename(copyPath, targetPath)) {
        if (hadTarget)
            QFile::rename(backup, targetPath);
        return SwapResult::RolledBack;
    }
    if (executable)
        makeExecutable(targetPath);
    // A running program's old file may refuse to go (Windows); it is harmless beside the new one.
    if (hadTarget)
        QFile::remove(backup);
    return SwapResult::Installed;
}
