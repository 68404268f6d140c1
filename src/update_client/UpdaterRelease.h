#pragma once

#include <QString>

// The updater program travels inside the main program as resource 101 and is written out at
// every hand-over.

// "update.exe" on Windows, "update" elsewhere.
QString updaterFileName();

// Writes the bytes of resource `id` to `fileName` unless that file exists; an existing file is never
// overwritten. On systems with an execute bit the file gets it. Reports nothing.
void CreResFile(const QString& fileName, int id);

// Qt resource path under which the build stores resource `id`.
QString resourcePath(int id);
