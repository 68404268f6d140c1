#pragma once

#include "query/PonSummary.h"

#include <QList>
#include <QWidget>

class QTableWidget;

// The list's lines by PON port: one row per port with its counts and verdict, the splitters in
// the verdict's tooltip. It shows what it is given; a double-click on a port asks for its rows
// in the main list.
class PonSummaryWindow : public QWidget {
    Q_OBJECT

public:
    explicit PonSummaryWindow(QWidget* parent = nullptr);

    // Replaces the rows; the row the user was on stays current when its port is still there.
    void setPorts(const QList<PonPort>& ports);

signals:
    // The main list's rows of the port double-clicked, in list order.
    void portChosen(const QList<int>& rows);

private:
    QTableWidget* m_table;
    QList<PonPort> m_ports;
};
