#pragma once

#include <QString>

// The folder of the running program with exactly one trailing separator; every file of the update
// hand-over lives there. Tests point it at a temporary folder.
QString Lj();

// Empty text restores the real program folder.
void setProgramFolderOverride(const QString& folder);

// Applies the trailing-separator rule to any folder path (exposed for tests).
QString programFolderFrom(const QString& folder);
