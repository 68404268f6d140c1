#pragma once

#include <QString>
#include <QStringList>

// The rules for the entries of update_files, shared by the update client, which downloads them, and
// the updater, which installs them. Every function here is pure: paths are built, never touched.
// Windows' naming rules apply on every platform, so a list is accepted or refused alike everywhere.
namespace handover {

// update_files split at every ","; nothing trimmed, empty text gives no entries.
QStringList splitEntries(const QString& files);

enum class Refusal {
    None,
    NoEntries,    // nothing to install
    NotCarried,   // the manifest would not give the list back byte for byte
    EdgeBlank,    // a blank or a quotation mark at either end of an entry
    BadName,      // not a relative path of names every system accepts
    ReservedName, // the manifest, the updater or the staging folder
    CopyIsEntry,  // an entry's download copy would have an installed file's name
    SharedCopy,   // two entries would download into one copy
    SharedTarget, // two entries would be installed at one path, or one inside the other
    BadMainApp,   // the main program's name is not a plain file name
};

struct ListCheck {
    Refusal refusal = Refusal::None;
    int index = -1; // the entry refused
    QString entry;
    bool accepted() const { return refusal == Refusal::None; }
};

// Accepts or refuses a whole list: an update installs all of its entries or none.
ListCheck checkList(const QString& files, const QString& mainApp);

// The refusal in Chinese; empty for an accepted list and for an empty one.
QString describe(const ListCheck& check);

// One name Windows keeps as given: not empty, no trailing dot or blank, none of <>:"|?*\/ or a
// control character, not a device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with any extension).
bool isPortableName(const QString& name);

// A path of portable names joined by "/": relative, no "." or ".." step.
bool isPortablePath(const QString& path);

// "tmp" + the part of the entry after its last "/", directly in the program folder.
QString copyName(const QString& entry);

// Where an entry is installed, relative to the program folder: the first entry (the main
// program) under MainApp, every other one at its own path.
QString installName(int index, const QString& entry, const QString& mainApp);

// The same, under the program folder (which ends in a separator).
QString copyPath(const QString& programFolder, const QString& entry);
QString installPath(const QString& programFolder, int index, const QString& entry, const QString& mainApp);

// Where the swap keeps the installed file of entry `index` until the whole list is in.
QString backupPath(const QString& programFolder, int index);

} // namespace handover
