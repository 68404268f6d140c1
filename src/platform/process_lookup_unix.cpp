#include "platform/ProcessLookup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace platform {

namespace {

// On Linux the executable keeps its name without ".exe"; a manifest written on either system
// names it with the extension, so both spellings mean the same program.
QString withoutExe(const QString& name) {
    return name.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive) ? name.chopped(4) : name;
}

} // namespace

bool isProcessRunning(const QString& fileName) {
    if (fileName.isEmpty() || fileName.contains(QLatin1Char('/')))
        return false;
    const QString wanted = withoutExe(fileName);
    const QDir proc(QStringLiteral("/proc"));
    const auto entries = proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& pid : entries) {
        bool numeric = false;
        pid.toLongLong(&numeric);
        if (!numeric)
            continue;
        const QString exe = QFileInfo(proc.filePath(pid + QStringLiteral("/exe"))).symLinkTarget();
        QString name = QFileInfo(exe).fileName();
        // A replaced executable shows as "name (deleted)"; it is still the same program running.
        name.remove(QStringLiteral(" (deleted)"));
        if (!name.isEmpty() && withoutExe(name) == wanted)
            return true;
    }
    return false;
}

} // namespace platform
