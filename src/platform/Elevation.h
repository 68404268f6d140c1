#pragma once

#include <QString>

namespace platform {

// True when the process may replace files in the program folder. Only Windows has an elevation
// step; elsewhere the answer is always yes.
bool isElevated();

// Starts this program again with administrator rights ("runas"). Returns whether the start was
// handed to the system; the caller ends either way.
bool restartElevated(const QString& programPath);

} // namespace platform
