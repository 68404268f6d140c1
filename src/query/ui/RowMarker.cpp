#include "query/ui/RowMarker.h"

#include "query/DropRule.h"
#include "query/QueryRun.h"
#include "query/Thresholds.h"

#include <QTreeWidget>

#include <algorithm>

namespace {

QColor rgb(quint32 value) {
    return QColor::fromRgb(QRgb(value));
}

} // namespace

RowMarker::RowMarker(QTreeWidget* list, const QueryRun* run, const Thresholds* thresholds)
    : m_list(list), m_run(run), m_thresholds(thresholds) {}

void RowMarker::fill() {
    m_list->clear();
    m_previous.clear();
    const auto& rows = m_run->rows();
    QList<QTreeWidgetItem*> items;
    items.reserve(rows.size());
    for (const QueryRun::Row& row : rows)
        items << new QTreeWidgetItem(QStringList(row.begin(), row.end()));
    m_list->addTopLevelItems(items);
    // A new run's rows hold only their account; those of a resumed run come with readings and
    // failures.
    for (int i = 0; i < items.size(); ++i) {
        const QueryRun::Row& row = rows[i];
        if (!m_run->failureReason(i).isEmpty() || !m_run->unreachedReason(i).isEmpty() ||
            std::any_of(row.begin() + 1, row.end(), [](const QString& cell) { return !cell.isEmpty(); }))
            markRow(i);
    }
}

void RowMarker::setCell(int row, int column, const QString& text) {
    if (QTreeWidgetItem* item = m_list->topLevelItem(row)) {
        item->setText(column, text);
        markCell(item, row, column);
    }
}

void RowMarker::markRow(int row) {
    if (QTreeWidgetItem* item = m_list->topLevelItem(row)) {
        for (int column = 0; column < QueryRun::kColumnCount; ++column)
            markCell(item, row, column);
    }
}

void RowMarker::setPreviousReading(int row, const journal::Reading& previous) {
    m_previous.insert(row, previous);
    markRow(row);
}

void RowMarker::markCell(QTreeWidgetItem* item, int row, int column) const {
    // An unreached row says so where its result would be; the run's cell stays empty.
    const QString unreached = m_run->unreachedReason(row);
    if (column == QueryRun::Result)
        item->setText(column,
                      unreached.isEmpty() ? m_run->rows().at(row)[column] : QueryRun::unreachedMark());
    if (!unreached.isEmpty()) {
        item->setForeground(column, rgb(marks::kUnreachedText));
        item->setBackground(column, QBrush());
        item->setToolTip(column, unreached);
        return;
    }
    const QString failure = m_run->failureReason(row);
    if (!failure.isEmpty()) {
        item->setForeground(column, rgb(marks::kFailedText));
        item->setBackground(column, QBrush());
        item->setToolTip(column, failure);
        return;
    }
    item->setToolTip(column, QString());
    const auto previous = m_previous.constFind(row);
    if (previous != m_previous.cend()) {
        if (const auto tip = dropTooltip(column, item->text(column), *previous, m_thresholds->dropDb)) {
            item->setForeground(column, rgb(marks::kDropText));
            item->setBackground(column, rgb(marks::kDropFill));
            item->setToolTip(column, *tip);
            return;
        }
    }
    if (m_thresholds->isWeak(column, item->text(column))) {
        item->setForeground(column, rgb(marks::kWeakText));
        item->setBackground(column, rgb(marks::kWeakFill));
    } else {
        item->setForeground(column, QBrush());
        item->setBackground(column, QBrush());
    }
}
