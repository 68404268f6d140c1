#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>

namespace journal {

// Stored as integers; the numbers are part of the file format.
enum class RunState { Running = 0, Stopped = 1, Finished = 2 };

// One finished row of a run: its cells as the list showed them and how it ended.
struct StoredRow {
    int position = 0;  // from 0, in the run's account order
    QStringList cells; // the list's 11 cells
    QString failure;   // why the row failed; empty when it is done
    QDateTime finishedAt;
};

// The four optical power readings of one finished row, as the list showed them (dB; any may be
// empty): ONT receive, ONT send, OLT receive, OLT send.
struct Reading {
    QString account;
    QDateTime takenAt;
    std::array<QString, 4> values;
    QString takenBy = {}; // who took it ([Team] Name); empty for readings older than that record

    const QString& ontReceive() const { return values[0]; }
    const QString& oltReceive() const { return values[2]; }
};

// A run that did not reach its end, as offered back: "已完成 done/total".
struct UnfinishedRun {
    qint64 id = 0;
    int done = 0;
    int total = 0;
    int rate = 0;
    QDateTime startedAt;
};

// Everything needed to put a run back on the list and go on with it.
struct RestoredRun {
    qint64 id = 0;
    QStringList accounts; // in order; one list row each
    int rate = 0;
    QDateTime startedAt;
    QList<StoredRow> rows;   // the finished rows, by position
    int firstUnfinished = 0; // the first position without a finished row; accounts.size() if none
};

} // namespace journal
