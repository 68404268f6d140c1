#include "update_client/UpdateManifest.h"

#include "common/IniFile.h"
#include "update_client/UpdatePath.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace update_manifest {

QString section() {
    return QStringLiteral("UpInfo");
}

QString fileName() {
    return QStringLiteral("update.ini");
}

QString mainAppName() {
    const QFileInfo program(QCoreApplication::applicationFilePath());
#ifdef Q_OS_WIN
    return program.completeBaseName() + QStringLiteral(".exe");
#else
    return program.fileName();
#endif
}

void write(const QString& path, const UpdateInfo& info, const QString& installedVersion,
           const QString& mainApp) {
    iniWrite(section(), QStringLiteral("NewVer"), info.version, path);
    iniWrite(section(), QStringLiteral("OldVer"), installedVersion, path);
    iniWrite(section(), QStringLiteral("UpFileName"), info.files, path);
    iniWrite(section(), QStringLiteral("UpNotes"), info.notes, path);
    iniWrite(section(), QStringLiteral("MainApp"), mainApp, path);
}

} // namespace update_manifest
