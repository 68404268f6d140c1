#pragma once

#include "journal/JournalTypes.h"

#include <QHash>
#include <QString>

class QTreeWidget;
class QTreeWidgetItem;
class QueryRun;
class Thresholds;

// Keeps the result list in step with the run's rows: their cells, failed rows in red with the
// reason as tooltip, receive readings outside the thresholds coloured.
class RowMarker {
public:
    RowMarker(QTreeWidget* list, const QueryRun* run, const Thresholds* thresholds);

    // The list becomes the run's rows, each with its cells and marks.
    void fill();
    void setCell(int row, int column, const QString& text);
    void markRow(int row);
    // The account's reading before this row's: power cells that fell by the thresholds' dropDb
    // or more are marked, their tooltip naming the earlier value. Forgotten when the list is
    // filled again.
    void setPreviousReading(int row, const journal::Reading& previous);

private:
    void markCell(QTreeWidgetItem* item, int row, int column) const;

    QTreeWidget* m_list;
    const QueryRun* m_run;
    const Thresholds* m_thresholds;
    QHash<int, journal::Reading> m_previous;
};
