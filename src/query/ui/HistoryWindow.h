#pragma once

#include "journal/JournalTypes.h"

#include <QWidget>

class HistoryChart;
class QTableWidget;

// One account's readings over time: a chart of ONT and OLT receive above a table of every
// reading, newest first. It shows what it is given; the journal supplies it. A window of its own
// that deletes itself when closed: create it with new and show it.
class HistoryWindow : public QWidget {
    Q_OBJECT

public:
    HistoryWindow(const QString& account, const QList<journal::Reading>& readings, QWidget* parent = nullptr);

    static QString titleFor(const QString& account); // "历史读数 - " + account

private:
    HistoryChart* m_chart;
    QTableWidget* m_table;
};
