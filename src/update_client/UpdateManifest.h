#pragma once

#include <QString>

struct UpdateInfo;

// The hand-over manifest update.ini that the updater reads.
namespace update_manifest {

QString section();
QString fileName(); // "update.ini"

// The running program's own file name, as the updater waits for it and restarts it: on Windows
// the name + ".exe"; elsewhere the executable's real name (it has no extension there).
QString mainAppName();

// Writes NewVer, OldVer, UpFileName, UpNotes and MainApp, in this order.
void write(const QString& path, const UpdateInfo& info, const QString& installedVersion,
           const QString& mainApp);

} // namespace update_manifest
