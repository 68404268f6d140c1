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

} // namespace handover
