#include "handover/Folder.h"

#include "handover/Entries.h"
#include "handover/Manifest.h"
#include "handover/Names.h"
#include "platform/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace handover {

namespace {

bool isFolder(const QString& path) {
    return !platform::isLink(path) && QFileInfo(path).isDir();
}

} // namespace

bool prepareStaging(const QString& programFolder) {
    const QString staging = stagingFolder(programFolder);
    if (platform::isLink(staging.chopped(1)))
        return false;
    const bool made = !QFileInfo::exists(staging) && QDir().mkdir(staging);
    if (!isFolder(staging.chopped(1)) || (made && !platform::syncFolder(programFolder)))
        return false;
    platform::hideFolder(staging);
    return true;
}

Pending inspect(const QString& programFolder) {
    const QString manifestPath = programFolder + manifestFileName();
    const bool staging = QFileInfo::exists(stagingFolder(programFolder)) ||
                         platform::isLink(stagingFolder(programFolder).chopped(1));
    if (!QFileInfo::exists(manifestPath))
        return staging ? Pending::Stale : Pending::Nothing;
    const Manifest manifest = readManifest(manifestPath);
    if (!checkList(manifest.files, manifest.mainApp).accepted())
        return Pending::Stale;
    const QStringList entries = manifest.entries();
    for (const QString& entry : entries) {
        const QString copy = copyPath(programFolder, entry);
        if (!platform::isLink(copy) && QFileInfo(copy).isFile())
            return Pending::CopiesWaiting;
    }
    return Pending::Stale;
}

bool removeStaging(const QString& programFolder) {
    const QString staging = stagingFolder(programFolder).chopped(1);
    // A link in its place is not ours to follow; it stays, and so does the failure.
    if (platform::isLink(staging))
        return false;
    if (!QFileInfo::exists(staging))
        return true;
    return QDir(staging).removeRecursively() && platform::syncFolder(programFolder);
}

bool removeCopies(const QString& programFolder, const Manifest& manifest, platform::FileSteps& steps) {
    // Only the names an accepted list gives, and only plain files: nothing of the user's.
    if (!checkList(manifest.files, manifest.mainApp).accepted())
        return true;
    bool removed = false;
    const QStringList entries = manifest.entries();
    for (const QString& entry : entries) {
        const QString copy = copyPath(programFolder, entry);
        if (platform::isLink(copy) || !QFileInfo(copy).isFile())
            continue;
        if (!steps.remove(copy))
            return false;
        removed = true;
    }
    return !removed || steps.syncFolder(programFolder);
}

bool clearStale(const QString& programFolder) {
    // A manifest in the staging folder names the copies of an update that was rolled back or never
    // handed over: they go before the folder that lists them.
    const QString staged = stagingFolder(programFolder) + manifestFileName();
    const bool copiesGone = platform::isLink(staged) || !QFileInfo(staged).isFile() ||
                            removeCopies(programFolder, readManifest(staged));
    const QString manifestPath = programFolder + manifestFileName();
    const bool manifestGone = !QFileInfo::exists(manifestPath) ||
                              (QFile::remove(manifestPath) && platform::syncFolder(programFolder));
    return copiesGone && removeStaging(programFolder) && manifestGone;
}

bool removeLeftoverUpdater(const QString& programFolder) {
    QDir folder(programFolder);
    const QStringList names = folder.entryList(QDir::Files | QDir::Hidden | QDir::System);
    bool removed = true;
    for (const QString& name : names) {
        if (isUpdaterFileName(name) && !folder.remove(name))
            removed = false;
    }
    return removed;
}

bool crossesLink(const QString& programFolder, const QString& relativePath) {
    QString path = programFolder;
    const QStringList parts = relativePath.split(u'/');
    for (const QString& part : parts) {
        path += part;
        if (platform::isLink(path))
            return true;
        path += u'/';
    }
    return false;
}

bool copyDurably(const QString& from, const QString& to, platform::FileSteps& steps) {
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly)) {
        platform::noteFault({in.error() == QFileDevice::PermissionsError
                                 ? platform::FileFault::Kind::AccessDenied
                                 : platform::FileFault::Kind::Other,
                             0});
        return false;
    }
    QFile out(to);
    if (!steps.createFile(out))
        return false;
    constexpr qint64 kBlock = 1024 * 1024;
    bool copied = true;
    while (copied && !in.atEnd()) {
        const QByteArray block = in.read(kBlock);
        copied = !block.isEmpty() && steps.write(out, block);
    }
    copied = copied && steps.syncFile(out);
    out.close();
    if (!copied || out.error() != QFileDevice::NoError) {
        QFile::remove(to);
        return false;
    }
    return true;
}

} // namespace handover
