#pragma once

#include <QString>

// The updater program travels inside the main program as resource 101 and is written out at
// every hand-over.

// Writes the bytes of resource `id` to `fileName`, whole or not at all, unless something (a file,
// a link) is there already: that is never overwritten. On systems with an execute bit the file
// gets it. True when the file now holds the resource.
[[nodiscard]] bool CreResFile(const QString& fileName, int id);

// Qt resource path under which the build stores resource `id`.
QString resourcePath(int id);
