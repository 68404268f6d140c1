#pragma once

#include <QString>

class QFileDevice;

// File-system steps that must not lose a file when the process dies or the power fails between
// two of them.
namespace platform {

// Puts `from` in the place of `to` in one step: at every instant `to` is either the old file or
// the new one, and the step is on disk when this returns. Both must be on one volume. A link at
// `to` is replaced, never followed. On Windows a program still running at `to` is renamed aside
// first (and deleted once it ends, at the latest at the next restart): for that moment `to` is
// missing.
[[nodiscard]] bool replaceFile(const QString& from, const QString& to);

// Writes what the file holds so far to the disk.
[[nodiscard]] bool syncFile(QFileDevice& file);

// A symbolic link, a junction or any other reparse point: something that would lead elsewhere.
// A missing path is not a link.
bool isLink(const QString& path);

// Hides a folder from the usual listings where the name alone does not (Windows).
void hideFolder(const QString& path);

} // namespace platform
