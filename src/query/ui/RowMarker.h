#pragma once

#include "journal/JournalTypes.h"

#include <QHash>
#include <QString>
#include <QVariant>

class QueryRun;
class Thresholds;

// What the result list shows of a cell of the run's rows: failed rows in red with the reason as
// tooltip, unreached rows as "未查询" in grey with why, receive readings outside the thresholds
// coloured. Nothing is stored: every answer comes from the run as it stands.
class RowMarker {
public:
    RowMarker(const QueryRun* run, const Thresholds* thresholds);

    // Qt::DisplayRole, ForegroundRole, BackgroundRole and ToolTipRole; an invalid value otherwise.
    QVariant data(int row, int column, int role) const;
    // The account's reading before this row's: power cells that fell by the thresholds' dropDb
    // or more are marked, their tooltip naming the earlier value. The caller repaints the row.
    void setPreviousReading(int row, const journal::Reading& previous);
    // Whether any power cell of the row is marked as a drop.
    bool isDrop(int row) const;
    // Called when the run's rows are built again: the earlier readings belonged to other rows.
    void clearPreviousReadings();

private:
    const QueryRun* m_run;
    const Thresholds* m_thresholds;
    QHash<int, journal::Reading> m_previous;
};
