#include "common/ProgramFolder.h"

#include <QCoreApplication>
#include <QDir>

namespace {

QString& folderOverride() {
    static QString value;
    return value;
}

} // namespace

QString programFolderFrom(const QString& folder) {
    const QString sep = QDir::separator();
    QString path = QDir::toNativeSeparators(folder) + sep;
    // A network share keeps its two leading separators; only the rest is collapsed.
    const bool share = path.startsWith(sep + sep);
    QString rest = share ? path.mid(2) : path;
    const QString doubled = sep + sep;
    while (rest.contains(doubled))
        rest.replace(doubled, sep);
    return share ? doubled + rest : rest;
}

QString Lj() {
    const QString& forced = folderOverride();
    return programFolderFrom(forced.isEmpty() ? QCoreApplication::applicationDirPath() : forced);
}

void setProgramFolderOverride(const QString& folder) {
    folderOverride() = folder;
}
