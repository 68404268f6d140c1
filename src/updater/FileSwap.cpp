#include "updater/FileSwap.h"

#include "handover/Entries.h"
#include "handover/Folder.h"
#include "handover/Names.h"
#include "handover/ProgramImage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace {

bool isPlainFile(const QString& path) {
    return !platform::isLink(path) && QFileInfo(path).isFile();
}

bool makeExecutable(const QString& path) {
#ifdef Q_OS_WIN
    Q_UNUSED(path);
    return true;
#else
    return QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ReadOwner |
                                           QFileDevice::ExeOwner | QFileDevice::ExeUser |
                                           QFileDevice::ExeGroup | QFileDevice::ExeOther);
#endif
}

QString folderOf(const QString& path) {
    return QFileInfo(path).absolutePath();
}

// Beside a backup: the entry had no installed file, so undoing it leaves none.
QString newMark(const QString& backup) {
    return backup + u".new"_s;
}

} // namespace

FileSwap::FileSwap(const QString& programFolder, const QStringList& entries, const QString& mainApp,
                   platform::FileSteps& steps)
    : m_folder(programFolder), m_entries(entries), m_mainApp(mainApp), m_fs(steps) {
    for (int i = 1; i < entries.size(); ++i)
        m_order << i;
    if (!entries.isEmpty())
        m_order << 0;
}

QString FileSwap::copy(int index) const {
    return handover::copyPath(m_folder, m_entries.at(index));
}

QString FileSwap::target(int index) const {
    return handover::installPath(m_folder, index, m_entries.at(index), m_mainApp);
}

bool FileSwap::ready() const {
    for (int i = 0; i < m_entries.size(); ++i) {
        if (handover::crossesLink(m_folder, handover::copyName(m_entries.at(i))) ||
            handover::crossesLink(m_folder, handover::installName(i, m_entries.at(i), m_mainApp)))
            return false;
    }
    return !isPlainFile(copy(0)) || handover::isProgramImage(copy(0));
}

void FileSwap::begin() {
    m_steps = 0;
    if (m_hook)
        m_hook(0);
}

void FileSwap::stepDone() {
    ++m_steps;
    if (m_hook)
        m_hook(m_steps);
}

// Each level made is synced into its parent, so a file renamed into it cannot lose its folder.
bool FileSwap::makeFolders(const QString& folder) {
    const QString path = QDir::cleanPath(folder);
    if (QFileInfo(path).isDir())
        return true;
    const QString parent = folderOf(path);
    if (parent == path || !makeFolders(parent))
        return false;
    return m_fs.makeFolder(path) && m_fs.syncFolder(parent);
}

bool FileSwap::renameSynced(const QString& from, const QString& to) {
    if (!m_fs.rename(from, to))
        return false;
    const bool synced = m_fs.syncFolder(folderOf(to));
    return (folderOf(from) == folderOf(to) || m_fs.syncFolder(folderOf(from))) && synced;
}

bool FileSwap::removeSynced(const QString& path, bool folder) {
    if (!QFileInfo::exists(path) && !platform::isLink(path))
        return true;
    return (folder ? m_fs.removeFolder(path) : m_fs.remove(path)) && m_fs.syncFolder(folderOf(path));
}

FileSwap::Result FileSwap::install(int index) {
    const QString from = copy(index);
    const QString to = target(index);
    if (!isPlainFile(from))
        return Result::AlreadyIn;
    if (!makeFolders(folderOf(to)))
        return Result::Failed;

    // A backup or a mark from an earlier run stands: the file in place may already be the new one.
    const QString backup = handover::backupPath(m_folder, index);
    if (!QFileInfo::exists(backup) && !QFileInfo::exists(newMark(backup))) {
        if (!makeFolders(folderOf(backup)))
            return Result::Failed;
        if (QFileInfo::exists(to)) {
            // The backup appears whole and on disk under its name, or not at all.
            const QString part = backup + u".part"_s;
            if ((QFileInfo::exists(part) && !m_fs.remove(part)) || !handover::copyDurably(to, part, m_fs) ||
                !renameSynced(part, backup))
                return Result::Failed;
        } else {
            QFile mark(newMark(backup));
            if (!mark.open(QIODevice::WriteOnly | QIODevice::NewOnly))
                return Result::Failed;
            mark.close();
            if (!m_fs.syncFolder(folderOf(backup)))
                return Result::Failed;
        }
        stepDone();
    }
    // Runnable before it takes the main program's place, so the place never holds anything else.
    if (index == 0 && !makeExecutable(from))
        return Result::Failed;
    if (!renameSynced(from, to))
        return Result::Failed;
    stepDone();
    return Result::Installed;
}

bool FileSwap::rollBack(const QString& manifestPath) {
    for (auto it = m_order.crbegin(); it != m_order.crend(); ++it) {
        const int index = *it;
        const QString backup = handover::backupPath(m_folder, index);
        const bool hasBackup = QFileInfo::exists(backup);
        // Untouched by any run: whatever is in place was there before.
        if (!hasBackup && !QFileInfo::exists(newMark(backup)))
            continue;
        const QString to = target(index);
        if (!isPlainFile(copy(index)) && QFileInfo::exists(to)) {
            if (!renameSynced(to, copy(index)))
                return false;
            stepDone();
        }
        if (hasBackup && !QFileInfo::exists(to)) {
            if (!renameSynced(backup, to))
                return false;
            stepDone();
        }
    }
    if (!removeSynced(manifestPath, false))
        return false;
    stepDone();
    if (!removeSynced(handover::stagingFolder(m_folder).chopped(1), true))
        return false;
    stepDone();
    return true;
}

bool FileSwap::finish(const QString& manifestPath) {
    if (!removeSynced(handover::stagingFolder(m_folder).chopped(1), true))
        return false;
    stepDone();
    if (!removeSynced(manifestPath, false))
        return false;
    stepDone();
    return true;
}
