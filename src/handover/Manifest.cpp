#include "handover/Manifest.h"

#include "common/IniFile.h"
#include "handover/Entries.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace handover {

namespace {

QString section() {
    return u"UpInfo"_s;
}

} // namespace

QStringList Manifest::entries() const {
    return splitEntries(files);
}

bool writeManifest(const QString& path, const Manifest& m) {
    if (QFileInfo::exists(path) && !QFile::remove(path))
        return false;
    const std::pair<QString, const QString*> keys[] = {
        {u"NewVer"_s, &m.newVersion}, {u"OldVer"_s, &m.oldVersion}, {u"UpFileName"_s, &m.files},
        {u"UpNotes"_s, &m.notes},     {u"MainApp"_s, &m.mainApp},
    };
    for (const auto& [key, value] : keys) {
        if (iniWrite(section(), key, *value, path) <= 0)
            return false;
    }
    return iniRead(section(), u"UpFileName"_s, QString(), path) == m.files &&
           iniRead(section(), u"MainApp"_s, QString(), path) == m.mainApp;
}

Manifest readManifest(const QString& path) {
    Manifest m;
    m.newVersion = iniRead(section(), u"NewVer"_s, u"V1.0.1"_s, path);
    m.oldVersion = iniRead(section(), u"OldVer"_s, u"V1.0.0"_s, path);
    m.files = iniRead(section(), u"UpFileName"_s, QString(), path);
    m.notes = iniRead(section(), u"UpNotes"_s, u"正在更新软件"_s, path);
    m.mainApp = iniRead(section(), u"MainApp"_s, QString(), path);
    return m;
}

QString notesForDisplay(const QString& rawNotes) {
    QString text = rawNotes;
    return text.replace(u"/n"_s, u"\n"_s);
}

QString mainAppName() {
    const QFileInfo program(QCoreApplication::applicationFilePath());
#ifdef Q_OS_WIN
    return program.completeBaseName() + u".exe"_s;
#else
    return program.fileName();
#endif
}

} // namespace handover
