#pragma once

#include "platform/FileLock.h"

#include <QString>

#include <memory>

// Which program runs on a program folder. Each holds a lock in the user's data folder, named
// after the folder, for as long as it runs: the system lets it go with the process, however the
// process ends, so a lock left by a killed program never counts.
namespace handover {

enum class Holder {
    MainProgram,
    Updater,
};

using LockState = platform::FileLock::State;

QString lockPath(const QString& programFolder, Holder holder);

// The lock taken, or nothing; `state` (when given) says whether another process holds it or it
// cannot be made at all.
std::unique_ptr<platform::FileLock> takeLock(const QString& programFolder, Holder holder,
                                             LockState* state = nullptr);

// Whether a running process holds the lock now. Looking takes the lock for a moment when it is
// free, so a holder that starts at that instant must try again before it gives up.
bool isHeld(const QString& programFolder, Holder holder);

} // namespace handover
