#pragma once

#include <QString>

// Names of the hand-over's files in the program folder.
namespace handover {

QString manifestFileName(); // "update.ini"

// The updater program: "update.exe" on Windows, "update" elsewhere.
QString updaterFileName();

// Whether a file name is an updater file left by an earlier hand-over (any case).
bool isUpdaterFileName(const QString& name);

// The hidden folder inside the program folder that holds the manifest while the downloads run,
// unfinished downloads and the backups of a running swap. Nothing of the user's is ever there.
QString stagingName();                               // ".vesmora-update"
QString stagingFolder(const QString& programFolder); // ends in "/"

// The user's data folder of the main program (its AppLocalDataLocation), which the updater, named
// otherwise, finds under the same name: "%LOCALAPPDATA%/Vesmora", "~/.local/share/Vesmora". Ends
// in "/".
QString dataFolder();

// Tests point it at a temporary folder; empty text restores the real one.
void setDataFolderOverride(const QString& folder);

// A short name for a program folder, the same for every spelling of its path, by which the files
// kept about it in the data folder are named.
QString folderKey(const QString& programFolder);

} // namespace handover
