#include "update_client/UpdaterRelease.h"

#include "platform/FileSystem.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

QString resourcePath(int id) {
    return QStringLiteral(":/custom/%1").arg(id);
}

bool CreResFile(const QString& fileName, int id) {
    // A link counts as present even when it leads nowhere: a save through it would land elsewhere.
    if (QFileInfo::exists(fileName) || platform::isLink(fileName))
        return false;
    QFile resource(resourcePath(id));
    if (!resource.open(QIODevice::ReadOnly))
        return false;
    // A half-written program must never be started: the file appears whole or not at all.
    QSaveFile out(fileName);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    while (!resource.atEnd()) {
        const QByteArray block = resource.read(1024 * 1024);
        if (block.isEmpty() || out.write(block) != block.size()) {
            out.cancelWriting();
            return false;
        }
    }
    if (!out.commit())
        return false;
#ifdef Q_OS_WIN
    return true;
#else
    return QFile::setPermissions(fileName, QFile::permissions(fileName) | QFileDevice::ExeOwner |
                                               QFileDevice::ExeUser | QFileDevice::ExeGroup |
                                               QFileDevice::ExeOther);
#endif
}
