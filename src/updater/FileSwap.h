#pragma once

#include <QString>

// Puts a downloaded copy in place of an installed file without ever losing the installed one.
enum class SwapResult {
    Installed,
    NotNamed,   // the entry names no file inside the program folder: nothing is touched
    NoCopy,     // nothing downloaded: the installed file stays as it is
    Kept,       // the installed file could not be moved aside: it stays, and so does the copy
    RolledBack, // the copy could not be moved in: the installed file was put back
};

// `executable`: the installed file must be runnable afterwards (the main program).
SwapResult swapIn(const QString& copyPath, const QString& targetPath, bool executable);
