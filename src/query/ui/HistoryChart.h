#pragma once

#include "journal/JournalTypes.h"

#include <QList>
#include <QWidget>

// A line chart of one account's ONT receive and OLT receive readings over time, oldest on the
// left. Drawn with QPainter: the Windows Qt carries no chart module.
class HistoryChart : public QWidget {
    Q_OBJECT

public:
    explicit HistoryChart(QWidget* parent = nullptr);

    // Any order; readings that are not numbers, or beyond +-100 dB, leave a gap in their line.
    void setReadings(const QList<journal::Reading>& readings);
    // Readings on the chart: ONT receive, OLT receive.
    int plottedCount(int series) const { return int(m_series[series].size()); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    static QString emptyText(); // "没有该帐号的历史读数"

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Point {
        qint64 ms;
        double value;
    };
    QList<Point> m_series[2]; // ONT receive, OLT receive; by time
};
