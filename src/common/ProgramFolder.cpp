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
    const QString doubled = sep + sep;
    const QString native = QDir::toNativeSeparators(folder);
    // A network share keeps its two leading separators; only the rest is collapsed. A root
    // folder only gains a separator it already has.
    const bool share = native.startsWith(doubled) && native.size() > 2 && native.at(2) != sep.at(0);
    QString rest = (share ? native.mid(2) : native) + sep;
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
