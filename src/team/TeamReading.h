#pragma once

#include "journal/JournalTypes.h"

#include <QDateTime>
#include <QString>

#include <array>

// One reading as the team database holds it: which line, when, who took it, and the list's four
// power cells as text (dB; any may be empty) in the order of journal::Reading: ONT receive,
// ONT send, OLT receive, OLT send. Header only: the journal builds these without linking libpq.
struct TeamReading {
    QString account;
    QDateTime takenAt; // to the millisecond, as the journal keeps it
    QString takenBy;   // the [Team] Name of the PC that took it
    std::array<QString, 4> values;

    friend bool operator==(const TeamReading&, const TeamReading&) = default;
};

// The journal's readings and the team's are the same facts; only the field order differs.
inline TeamReading toTeamReading(const journal::Reading& reading) {
    return {reading.account, reading.takenAt, reading.takenBy, reading.values};
}
inline journal::Reading fromTeamReading(const TeamReading& reading) {
    return {reading.account, reading.takenAt, reading.values, reading.takenBy};
}
