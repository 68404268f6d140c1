#include "query/ui/PonSummaryWindow.h"

#include <QHeaderView>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

using namespace Qt::StringLiterals;

PonSummaryWindow::PonSummaryWindow(QWidget* parent)
    : QWidget(parent, Qt::Window), m_table(new QTableWidget(this)) {
    setWindowTitle(PonSummary::sheetName());
    m_table->setObjectName(u"ponTable"_s);
    const QStringList headers = PonSummary::headers();
    m_table->setColumnCount(int(headers.size()));
    m_table->setHorizontalHeaderLabels(headers);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    // A list of a thousand ports reads best at the main list's row height.
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // Wide enough for an address and a port of the longest form, and each caption.
    const QFontMetrics metrics(m_table->font());
    const int padding = 2 * metrics.averageCharWidth() + 8;
    const QStringList widest{u"255.255.255.255"_s, u"00/00/00/00"_s};
    for (int column = 0; column < PonSummary::Verdict; ++column) {
        int width = metrics.horizontalAdvance(headers[column]);
        if (column < widest.size())
            width = std::max(width, metrics.horizontalAdvance(widest[column]));
        m_table->setColumnWidth(column, width + padding);
    }
    connect(m_table, &QTableWidget::cellDoubleClicked, this, [this](int row) {
        if (row >= 0 && row < m_ports.size())
            emit portChosen(m_ports[row].rows);
    });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_table);
    resize(640, 420);
}

void PonSummaryWindow::setPorts(const QList<PonPort>& ports) {
    const int current = m_table->currentRow();
    const std::pair<QString, QString> kept = current >= 0 && current < m_ports.size()
                                                 ? std::pair{m_ports[current].oltIp, m_ports[current].oltPon}
                                                 : std::pair<QString, QString>{};
    m_ports = ports;
    m_table->setRowCount(int(ports.size()));
    int again = -1;
    for (int row = 0; row < ports.size(); ++row) {
        const PonPort& port = ports[row];
        const QStringList texts = PonSummary::texts(port);
        for (int column = 0; column < texts.size(); ++column) {
            QTableWidgetItem* item = m_table->item(row, column);
            if (!item) {
                item = new QTableWidgetItem;
                m_table->setItem(row, column, item);
            }
            item->setText(texts[column]);
            if (column >= PonSummary::Lines && column <= PonSummary::Drops)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        }
        m_table->item(row, PonSummary::Verdict)->setToolTip(PonSummary::details(port));
        if (port.oltIp == kept.first && port.oltPon == kept.second)
            again = row;
    }
    if (again < 0)
        m_table->setCurrentCell(-1, -1);
    else if (again != current)
        m_table->setCurrentCell(again, 0);
}
