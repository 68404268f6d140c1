#include "updater/FileSwap.h"

#include "handover/Entries.h"
#include "handover/Folder.h"
#include "handover/Manifest.h"
#include "handover/Names.h"
#include "handover/ProgramImage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace {

using Fault = platform::FileFault;

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

// Whether two files hold the same bytes; false when either cannot be read.
bool sameBytes(const QString& a, const QString& b) {
    QFile first(a);
    QFile second(b);
    if (!first.open(QIODevice::ReadOnly) || !second.open(QIODevice::ReadOnly) ||
        first.size() != second.size())
        return false;
    constexpr qint64 kBlock = 1024 * 1024;
    while (!first.atEnd()) {
        const QByteArray block = first.read(kBlock);
        if (block.isEmpty() || block != second.read(kBlock))
            return false;
    }
    return true;
}

QString faultText(const Fault& fault) {
    switch (fault.kind) {
    case Fault::Kind::AccessDenied:
        return u"拒绝访问"_s;
    case Fault::Kind::InUse:
        return u"文件正被其他程序使用"_s;
    case Fault::Kind::IsFolder:
        return u"此处已有同名的文件夹"_s;
    case Fault::Kind::DiskFull:
        return u"磁盘空间不足"_s;
    case Fault::Kind::ReadOnlyDisk:
        return u"磁盘只读"_s;
    case Fault::Kind::Missing:
        return u"找不到文件或文件夹"_s;
    case Fault::Kind::None:
    case Fault::Kind::Other:
        break;
    }
    return fault.code == 0 ? u"系统错误"_s : u"系统错误 %1"_s.arg(fault.code);
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

QString FileSwap::shown(int index) const {
    return handover::installName(index, m_entries.at(index), m_mainApp);
}

// "无法替换文件 data/x.txt：拒绝访问"; false, for the caller to return.
bool FileSwap::fail(int index, const QString& what, const QString& name, platform::FileFault fault) {
    m_failure = {m_entries.at(index), what + u' ' + name + u"："_s + faultText(fault)};
    return false;
}

bool FileSwap::ready() {
    for (int i = 0; i < m_entries.size(); ++i) {
        if (handover::crossesLink(m_folder, handover::copyName(m_entries.at(i))) ||
            handover::crossesLink(m_folder, shown(i))) {
            m_failure = {m_entries.at(i), u"文件 %1 的路径经过链接，不予更新"_s.arg(shown(i))};
            return false;
        }
    }
    if (isPlainFile(copy(0)) && !handover::isProgramImage(copy(0))) {
        m_failure = {m_entries.at(0),
                     u"下载的主程序 %1 不是本系统可运行的程序"_s.arg(handover::copyName(m_entries.at(0)))};
        return false;
    }
    return true;
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
    const QString replace = u"无法替换文件"_s;
    if (!isPlainFile(from))
        return Result::AlreadyIn;
    if (!platform::isLink(to) && QFileInfo(to).isDir()) {
        fail(index, replace, shown(index), {Fault::Kind::IsFolder, 0});
        return Result::Failed;
    }
    if (!makeFolders(folderOf(to))) {
        fail(index, u"无法创建文件夹"_s, QFileInfo(shown(index)).path(), m_fs.fault());
        return Result::Failed;
    }

    // A backup or a mark from an earlier run stands: the file in place may already be the new one.
    const QString backup = handover::backupPath(m_folder, index);
    if (!QFileInfo::exists(backup) && !QFileInfo::exists(newMark(backup))) {
        const QString keep = u"无法备份文件"_s;
        if (!makeFolders(folderOf(backup))) {
            fail(index, keep, shown(index), m_fs.fault());
            return Result::Failed;
        }
        if (QFileInfo::exists(to)) {
            // The backup appears whole and on disk under its name, or not at all.
            const QString part = backup + u".part"_s;
            if ((QFileInfo::exists(part) && !m_fs.remove(part)) || !handover::copyDurably(to, part, m_fs) ||
                !renameSynced(part, backup)) {
                fail(index, keep, shown(index), m_fs.fault());
                return Result::Failed;
            }
        } else {
            QFile mark(newMark(backup));
            const bool made = m_fs.createFile(mark);
            mark.close();
            if (!made || !m_fs.syncFolder(folderOf(backup))) {
                fail(index, keep, shown(index), m_fs.fault());
                return Result::Failed;
            }
        }
        stepDone();
    }
    // Runnable before it takes the main program's place, so the place never holds anything else.
    if (index == 0 && !makeExecutable(from)) {
        fail(index, replace, shown(index), {Fault::Kind::AccessDenied, 0});
        return Result::Failed;
    }
    if (!renameSynced(from, to)) {
        fail(index, replace, shown(index), m_fs.fault());
        return Result::Failed;
    }
    // Where a roll-back had given the new file its copy name as a second link, the rename of one
    // name of a file onto another does nothing: the copy name goes by itself.
    if (isPlainFile(from) && !removeSynced(from, false)) {
        fail(index, replace, shown(index), m_fs.fault());
        return Result::Failed;
    }
    stepDone();
    return Result::Installed;
}

// The installed new file keeps its copy name as well, so that the backup can take its place in one
// step and a resume still finds the copy waiting.
bool FileSwap::keepAsCopy(int index) {
    if (m_fs.link(target(index), copy(index)))
        return m_fs.syncFolder(m_folder);
    // No second name on this volume: a synced copy, renamed in whole.
    const QString part = handover::backupPath(m_folder, index) + u".undo"_s;
    return (!QFileInfo::exists(part) || m_fs.remove(part)) &&
           handover::copyDurably(target(index), part, m_fs) && renameSynced(part, copy(index));
}

bool FileSwap::rollBack(const QString& manifestPath) {
    for (auto it = m_order.crbegin(); it != m_order.crend(); ++it) {
        const int index = *it;
        const QString backup = handover::backupPath(m_folder, index);
        const QString to = target(index);
        if (QFileInfo::exists(backup)) {
            if (isPlainFile(copy(index))) {
                // The copy was never put in, or an earlier roll-back gave the new file its copy
                // name already: only a file that differs from the backup is replaced.
                if (sameBytes(to, backup))
                    continue;
            } else if (isPlainFile(to)) {
                if (!keepAsCopy(index))
                    return false;
                stepDone();
            }
            if (!renameSynced(backup, to))
                return false;
            stepDone();
        } else if (QFileInfo::exists(newMark(backup)) && !isPlainFile(copy(index)) && QFileInfo::exists(to)) {
            if (!renameSynced(to, copy(index)))
                return false;
            stepDone();
        }
    }
    // The old version is whole again. The manifest leaves the folder first, so that the copies
    // are no longer an update waiting; a start that finds it in the staging folder removes them.
    const QString staging = handover::stagingFolder(m_folder);
    if (QFileInfo::exists(manifestPath)) {
        if (!renameSynced(manifestPath, staging + handover::manifestFileName()))
            return false;
        stepDone();
    }
    handover::Manifest list;
    list.files = m_entries.join(u',');
    list.mainApp = m_mainApp;
    if (!handover::removeCopies(m_folder, list, m_fs))
        return false;
    stepDone();
    if (!removeSynced(staging.chopped(1), true))
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
