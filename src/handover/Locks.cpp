#include "handover/Locks.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace handover {

namespace {

QString folderKey(const QString& programFolder) {
    QString path = QFileInfo(programFolder).canonicalFilePath();
    if (path.isEmpty())
        path = QDir::cleanPath(QFileInfo(programFolder).absoluteFilePath());
#ifdef Q_OS_WIN
    path = path.toLower();
#endif
    return QString::fromLatin1(
        QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha256).toHex().left(20));
}

// A lock file that names this very process was left by a dead one whose number the system gave to
// us: it holds nothing.
bool tryLock(QLockFile& lock) {
    lock.setStaleLockTime(0);
    if (lock.tryLock(0))
        return true;
    qint64 pid = 0;
    QString host;
    QString application;
    if (lock.error() == QLockFile::LockFailedError && lock.getLockInfo(&pid, &host, &application) &&
        pid == QCoreApplication::applicationPid() && lock.removeStaleLockFile())
        return lock.tryLock(0);
    return false;
}

} // namespace

QString lockPath(const QString& programFolder, Holder holder) {
    // The main program's own data folder; the updater, named otherwise, finds it under the same name.
    const QString data =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + u"/Vesmora/locks/"_s;
    return data + folderKey(programFolder) +
           (holder == Holder::MainProgram ? u"-main.lock"_s : u"-updater.lock"_s);
}

std::unique_ptr<QLockFile> takeLock(const QString& programFolder, Holder holder) {
    const QString path = lockPath(programFolder, holder);
    QDir().mkpath(QFileInfo(path).absolutePath());
    // Held as long as the program runs: only a dead holder makes it stale, never its age.
    auto lock = std::make_unique<QLockFile>(path);
    if (!tryLock(*lock))
        return nullptr;
    return lock;
}

bool isHeld(const QString& programFolder, Holder holder) {
    QLockFile lock(lockPath(programFolder, holder));
    if (tryLock(lock)) {
        lock.unlock();
        return false;
    }
    return lock.error() == QLockFile::LockFailedError;
}

} // namespace handover
