#include "update_client/UpdateEntries.h"

#include <QDir>

namespace update_entries {

namespace {

QStringList steps(const QString& entry) {
    return entry.split(QLatin1Char('/'));
}

bool hasDrive(const QString& entry) {
    return entry.size() >= 2 && entry.at(1) == QLatin1Char(':');
}

} // namespace

QStringList split(const QString& files) {
    if (files.isEmpty())
        return {};
    return files.split(QLatin1Char(','));
}

bool isConfined(const QString& entry) {
    // A backslash would be a separator on one system and a name character on the other.
    if (entry.isEmpty() || entry.contains(QLatin1Char('\\')) || QDir::isAbsolutePath(entry) ||
        hasDrive(entry))
        return false;
    const QStringList parts = steps(entry);
    if (parts.first().isEmpty() || parts.last().isEmpty())
        return false;
    for (const QString& part : parts) {
        if (part == QLatin1String(".."))
            return false;
    }
    return parts.last() != QLatin1String(".");
}

bool isPlainFileName(const QString& name) {
    return isConfined(name) && steps(name).size() == 1;
}

QString lastPart(const QString& entry) {
    const qsizetype slash = entry.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? entry : entry.mid(slash + 1);
}

QString downloadCopyPath(const QString& programFolder, const QString& entry) {
    return programFolder + QStringLiteral("tmp") + lastPart(entry);
}

QString installPath(const QString& programFolder, int index, const QString& entry, const QString& mainApp) {
    return programFolder + (index == 0 ? mainApp : entry);
}

} // namespace update_entries
