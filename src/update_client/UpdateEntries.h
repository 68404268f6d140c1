#pragma once

#include <QString>
#include <QStringList>

// Naming rules shared by the update client, which downloads the entries of update_files, and the
// updater, which installs them: both sides must name the same files.
namespace update_entries {

// update_files split at every ","; nothing trimmed, empty text gives no entries.
QStringList split(const QString& files);

// An entry names a file inside the program folder: not empty, not absolute, no ".." step, no "\\",
// and a file name after its last "/". Anything else names no file and is never written or deleted.
bool isConfined(const QString& entry);

// A plain file name (MainApp): no folder part at all.
bool isPlainFileName(const QString& name);

// The part after the last "/" (the whole entry when it has none).
QString lastPart(const QString& entry);

// The downloaded copy: "tmp" + the entry's last part, directly in the program folder.
QString downloadCopyPath(const QString& programFolder, const QString& entry);

// Where an entry is installed: the main program (index 0) under MainApp, every other entry at its
// own path inside the program folder.
QString installPath(const QString& programFolder, int index, const QString& entry, const QString& mainApp);

} // namespace update_entries
