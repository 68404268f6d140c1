#pragma once

#include <QString>
#include <QStringList>

// What the updater takes from update.ini, with the defaults of a missing or empty key.
struct UpdaterManifest {
    QStringList entries; // UpFileName split at ","
    QString oldVersion;  // OldVer, shown as written
    QString newVersion;  // NewVer, shown as written
    QString notes;       // UpNotes with every "/n" turned into a line break
    QString mainApp;     // MainApp; empty when it names no plain file

    static UpdaterManifest read(const QString& path);
};

// The notes as the window shows them: each "/n" is a line break.
QString notesForDisplay(const QString& rawNotes);
