#pragma once

#include "team/TeamReading.h"

#include <QList>

// This PC's readings (from its journal, takenBy set to the [Team] Name) and the team's, each
// reading once, newest first. A reading is the same when account, time and name are: where
// both lists hold it, the PC's own copy is kept. Readings of equal time keep the PC's first,
// then the order they came in.
QList<TeamReading> mergeReadings(const QList<TeamReading>& local, const QList<TeamReading>& team);
