#include "handover/Locks.h"

#include "handover/Names.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace handover {

QString lockPath(const QString& programFolder, Holder holder) {
    return dataFolder() + u"locks/"_s + folderKey(programFolder) +
           (holder == Holder::MainProgram ? u"-main.lock"_s : u"-updater.lock"_s);
}

std::unique_ptr<platform::FileLock> takeLock(const QString& programFolder, Holder holder, LockState* state) {
    const QString path = lockPath(programFolder, holder);
    QDir().mkpath(QFileInfo(path).absolutePath());
    LockState taken = LockState::CannotMake;
    auto lock = platform::FileLock::take(path, &taken);
    if (state)
        *state = taken;
    return lock;
}

bool isHeld(const QString& programFolder, Holder holder) {
    return platform::FileLock::isHeld(lockPath(programFolder, holder));
}

} // namespace handover
