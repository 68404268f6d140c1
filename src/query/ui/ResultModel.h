#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <QTimer>

class QueryRun;
class RowMarker;

// The result list's rows as the view sees them: the run's own rows, read where they are, with the
// marks RowMarker gives. Nothing is copied per row, so 100,000 rows cost the view nothing more.
// Changes reach the view at most every kRepaintMs, so a fast run is not slowed down by painting
// each row; ended() of the run shows everything at once.
class ResultModel : public QAbstractTableModel {
    Q_OBJECT

public:
    static constexpr int kRepaintMs = 100;

    ResultModel(const QueryRun* run, const RowMarker* marker, QObject* parent = nullptr);

    static QStringList headerTexts();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Shows the view what changed since the last time, now.
    void flush();
    // A flush within kRepaintMs, if none is due yet.
    void scheduleFlush();
    // The row's marks changed outside the run (an earlier reading arrived); shown with the next
    // repaint.
    void rowChanged(int row);

signals:
    // After each flush, changed rows or not: the moment for whatever else the window shows.
    void flushed();

private:
    const QueryRun* m_run;
    const RowMarker* m_marker;
    int m_rows = 0;
    int m_firstDirty = -1;
    int m_lastDirty = -1;
    QTimer m_repaint;
};
