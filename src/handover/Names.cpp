#include "handover/Names.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace handover {

namespace {

QString& dataFolderOverride() {
    static QString folder;
    return folder;
}

} // namespace

QString manifestFileName() {
    return u"update.ini"_s;
}

QString updaterFileName() {
#ifdef Q_OS_WIN
    return u"update.exe"_s;
#else
    return u"update"_s;
#endif
}

bool isUpdaterFileName(const QString& name) {
#ifdef Q_OS_WIN
    return name.compare(u"update.exe"_s, Qt::CaseInsensitive) == 0;
#else
    // A manifest or a folder copied from Windows may carry the other spelling.
    return name.compare(u"update"_s, Qt::CaseInsensitive) == 0 ||
           name.compare(u"update.exe"_s, Qt::CaseInsensitive) == 0;
#endif
}

QString stagingName() {
    return u".vesmora-update"_s;
}

QString stagingFolder(const QString& programFolder) {
    return programFolder + stagingName() + u'/';
}

QString dataFolder() {
    if (!dataFolderOverride().isEmpty())
        return dataFolderOverride() + u'/';
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + u"/Vesmora/"_s;
}

void setDataFolderOverride(const QString& folder) {
    dataFolderOverride() = folder;
}

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

} // namespace handover
