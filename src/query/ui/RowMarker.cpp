#include "query/ui/RowMarker.h"

#include "query/DropRule.h"
#include "query/QueryRun.h"
#include "query/Thresholds.h"

#include <QBrush>
#include <QColor>

namespace {

QColor rgb(quint32 value) {
    return QColor::fromRgb(QRgb(value));
}

} // namespace

RowMarker::RowMarker(const QueryRun* run, const Thresholds* thresholds)
    : m_run(run), m_thresholds(thresholds) {}

void RowMarker::setPreviousReading(int row, const journal::Reading& previous) {
    m_previous.insert(row, previous);
}

void RowMarker::clearPreviousReadings() {
    m_previous.clear();
}

bool RowMarker::isDrop(int row) const {
    const auto previous = m_previous.constFind(row);
    if (previous == m_previous.cend())
        return false;
    for (int column = QueryRun::OnuAccept; column <= QueryRun::OltSend; ++column) {
        if (dropTooltip(column, m_run->cell(row, column), *previous, m_thresholds->dropDb))
            return true;
    }
    return false;
}

QVariant RowMarker::data(int row, int column, int role) const {
    if (row < 0 || row >= m_run->rowCount() || column < 0 || column >= QueryRun::kColumnCount)
        return {};
    const QString& text = m_run->cell(row, column);
    const QString unreached = m_run->unreachedReason(row);
    if (!unreached.isEmpty()) {
        switch (role) {
        case Qt::DisplayRole:
            // It says so where its result would be; the run's cell stays empty.
            return column == QueryRun::Result ? QueryRun::unreachedMark() : text;
        case Qt::ForegroundRole:
            return QBrush(rgb(marks::kUnreachedText));
        case Qt::ToolTipRole:
            return unreached;
        default:
            return {};
        }
    }
    if (role == Qt::DisplayRole)
        return text;
    const QString failure = m_run->failureReason(row);
    if (!failure.isEmpty()) {
        if (role == Qt::ForegroundRole)
            return QBrush(rgb(marks::kFailedText));
        if (role == Qt::ToolTipRole)
            return failure;
        return {};
    }
    if (role != Qt::ForegroundRole && role != Qt::BackgroundRole && role != Qt::ToolTipRole)
        return {};
    const auto previous = m_previous.constFind(row);
    if (previous != m_previous.cend()) {
        if (const auto tip = dropTooltip(column, text, *previous, m_thresholds->dropDb)) {
            if (role == Qt::ToolTipRole)
                return *tip;
            return QBrush(rgb(role == Qt::ForegroundRole ? marks::kDropText : marks::kDropFill));
        }
    }
    if ((role == Qt::ForegroundRole || role == Qt::BackgroundRole) && m_thresholds->isWeak(column, text))
        return QBrush(rgb(role == Qt::ForegroundRole ? marks::kWeakText : marks::kWeakFill));
    return {};
}
