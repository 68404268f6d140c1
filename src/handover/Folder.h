#pragma once

#include "handover/Manifest.h"
#include "platform/FileSystem.h"

#include <QString>

// What the two programs do to the program folder around a hand-over. The program folder always
// ends in a separator.
namespace handover {

// Creates the hidden staging folder, on disk when this returns. Fails when it cannot, or when a
// link stands in its place.
[[nodiscard]] bool prepareStaging(const QString& programFolder);

enum class Pending {
    Nothing,       // no manifest and no staging folder
    Stale,         // a manifest with nothing waiting, or what an ended update left behind
    CopiesWaiting, // an update whose downloaded copies are not all installed: hand over again
};

// What an earlier run left in the program folder.
Pending inspect(const QString& programFolder);

// Removes a manifest with nothing waiting and the staging folder, and the copies that a manifest
// left in the staging folder names (a rolled-back update, or downloads never handed over).
// Nothing else is touched.
[[nodiscard]] bool clearStale(const QString& programFolder);

// Removes the downloaded copies the manifest's list names, where they are plain files; nothing
// when the list breaks the entry rules.
[[nodiscard]] bool removeCopies(const QString& programFolder, const Manifest& manifest,
                                platform::FileSteps& steps = platform::diskSteps());

// Removes the staging folder only (never through a link).
[[nodiscard]] bool removeStaging(const QString& programFolder);

// Removes an updater file left by an earlier hand-over; true when none is left.
[[nodiscard]] bool removeLeftoverUpdater(const QString& programFolder);

// Whether any existing step of `relativePath` below the program folder is a link or a junction,
// so that a file written there would land somewhere else.
bool crossesLink(const QString& programFolder, const QString& relativePath);

// Copies a file to a new file (created exclusively, never through a link) and writes it to disk.
[[nodiscard]] bool copyDurably(const QString& from, const QString& to,
                               platform::FileSteps& steps = platform::diskSteps());

} // namespace handover
