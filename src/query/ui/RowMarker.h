#pragma once

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

private:
    void markCell(QTreeWidgetItem* item, int row, int column) const;

    QTreeWidget* m_list;
    const QueryRun* m_run;
    const Thresholds* m_thresholds;
};
