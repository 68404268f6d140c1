#include "updater/FileSwap.h"

#include "handover/Entries.h"
#include "handover/Folder.h"
#include "handover/ProgramImage.h"
#include "platform/FileSystem.h"

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

} // namespace

FileSwap::FileSwap(const QString& programFolder, const QStringList& entries, const QString& mainApp)
    : m_folder(programFolder), m_entries(entries), m_mainApp(mainApp) {
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

FileSwap::Result FileSwap::install(int index) {
    const QString from = copy(index);
    const QString to = target(index);
    if (!isPlainFile(from))
        return Result::AlreadyIn;
    if (!QDir().mkpath(QFileInfo(to).absolutePath()))
        return Result::Failed;

    const QString backup = handover::backupPath(m_folder, index);
    const bool existed = QFileInfo::exists(to);
    if (existed && !QFileInfo::exists(backup)) {
        // The backup appears whole under its name or not at all.
        const QString part = backup + u".part"_s;
        if (!QDir().mkpath(QFileInfo(backup).absolutePath()) ||
            (QFileInfo::exists(part) && !QFile::remove(part)) || !handover::copyDurably(to, part) ||
            !platform::replaceFile(part, backup))
            return Result::Failed;
        stepDone();
    }
    // Runnable before it takes the main program's place, so the place never holds anything else.
    if (index == 0 && !makeExecutable(from))
        return Result::Failed;
    if (!platform::replaceFile(from, to))
        return Result::Failed;
    if (!existed)
        m_createdHere.insert(index);
    stepDone();
    return Result::Installed;
}

void FileSwap::rollBack(const QString& manifestPath) {
    for (int i = 0; i < m_entries.size(); ++i) {
        const QString backup = handover::backupPath(m_folder, i);
        const bool waiting = isPlainFile(copy(i));
        if (!waiting && QFileInfo::exists(backup))
            static_cast<void>(platform::replaceFile(backup, target(i)));
        else if (!waiting && m_createdHere.contains(i))
            QFile::remove(target(i));
    }
    static_cast<void>(handover::removeStaging(m_folder));
    QFile::remove(manifestPath);
}

bool FileSwap::finish(const QString& manifestPath) {
    if (!handover::removeStaging(m_folder))
        return false;
    stepDone();
    if (QFileInfo::exists(manifestPath) && !QFile::remove(manifestPath))
        return false;
    stepDone();
    return true;
}
