#include "update_client/UpdaterRelease.h"

#include <QFile>
#include <QSaveFile>

QString updaterFileName() {
#ifdef Q_OS_WIN
    return QStringLiteral("update.exe");
#else
    return QStringLiteral("update");
#endif
}

QString resourcePath(int id) {
    return QStringLiteral(":/custom/%1").arg(id);
}

void CreResFile(const QString& fileName, int id) {
    if (QFile::exists(fileName))
        return;
    QFile resource(resourcePath(id));
    if (!resource.open(QIODevice::ReadOnly))
        return;
    // A half-written program must never be started: the file appears whole or not at all.
    QSaveFile out(fileName);
    if (!out.open(QIODevice::WriteOnly))
        return;
    while (!resource.atEnd()) {
        const QByteArray block = resource.read(1024 * 1024);
        if (block.isEmpty() || out.write(block) != block.size()) {
            out.cancelWriting();
            return;
        }
    }
    if (!out.commit())
        return;
    QFile::setPermissions(fileName, QFile::permissions(fileName) | QFileDevice::ExeOwner |
                                        QFileDevice::ExeUser | QFileDevice::ExeGroup | QFileDevice::ExeOther);
}
