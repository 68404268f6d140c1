#include "updater/UpdaterManifest.h"

#include "common/IniFile.h"
#include "update_client/UpdateEntries.h"

using namespace Qt::StringLiterals;

QString notesForDisplay(const QString& rawNotes) {
    QString text = rawNotes;
    return text.replace(u"/n"_s, u"\n"_s);
}

UpdaterManifest UpdaterManifest::read(const QString& path) {
    const QString section = u"UpInfo"_s;
    UpdaterManifest manifest;
    manifest.entries = update_entries::split(iniRead(section, u"UpFileName"_s, QString(), path));
    manifest.oldVersion = iniRead(section, u"OldVer"_s, u"V1.0.0"_s, path);
    manifest.newVersion = iniRead(section, u"NewVer"_s, u"V1.0.1"_s, path);
    manifest.notes = notesForDisplay(iniRead(section, u"UpNotes"_s, u"正在更新软件"_s, path));
    const QString mainApp = iniRead(section, u"MainApp"_s, QString(), path);
    // A name with a folder part would let the manifest reach outside the program folder.
    manifest.mainApp = update_entries::isPlainFileName(mainApp) ? mainApp : QString();
    return manifest;
}
