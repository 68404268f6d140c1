#pragma once

#include <QString>
#include <QStringList>

// The manifest update.ini: written by the main program, read by the updater. Section UpInfo, keys
// NewVer, OldVer, UpFileName, UpNotes and MainApp, in this order.
namespace handover {

struct Manifest {
    QString newVersion; // NewVer: the server version as the reply spells it
    QString oldVersion; // OldVer: the installed version
    QString files;      // UpFileName: update_files, unchanged
    QString notes;      // UpNotes: update_notes, "/n" for a line break
    QString mainApp;    // MainApp: the main program's file name

    QStringList entries() const;
};

// Writes a fresh manifest (an older file at the path is replaced) and reads it back: true only
// when every key was written and the list and the main program's name come back exactly.
[[nodiscard]] bool writeManifest(const QString& path, const Manifest& manifest);

// Reads the manifest as the updater shows it: a missing or empty key gives its default (NewVer
// "V1.0.1", OldVer "V1.0.0", UpNotes "正在更新软件", the others empty).
Manifest readManifest(const QString& path);

// The notes as the updater shows them: each "/n" is a line break.
QString notesForDisplay(const QString& rawNotes);

// The running program's file name as MainApp names it: on Windows the name + ".exe"; elsewhere
// the executable's real name (it has no extension there).
QString mainAppName();

} // namespace handover
