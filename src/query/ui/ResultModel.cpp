#include "query/ui/ResultModel.h"

#include "query/QueryRun.h"
#include "query/ui/RowMarker.h"

#include <algorithm>

using namespace Qt::StringLiterals;

ResultModel::ResultModel(const QueryRun* run, const RowMarker* marker, QObject* parent)
    : QAbstractTableModel(parent), m_run(run), m_marker(marker) {
    m_repaint.setSingleShot(true);
    m_repaint.setInterval(kRepaintMs);
    connect(&m_repaint, &QTimer::timeout, this, &ResultModel::flush);
    connect(run, &QueryRun::rowsBuilt, this, [this](int count) {
        beginResetModel();
        m_rows = count;
        m_firstDirty = m_lastDirty = -1;
        endResetModel();
    });
    connect(run, &QueryRun::cellChanged, this, [this](int row) { rowChanged(row); });
    connect(run, &QueryRun::rowFailureChanged, this, [this](int row) { rowChanged(row); });
    connect(run, &QueryRun::rowUnreachedChanged, this, [this](int row) { rowChanged(row); });
    // The run's waits and its end show everything at once.
    connect(run, &QueryRun::ended, this, &ResultModel::flush);
    connect(run, &QueryRun::paused, this, &ResultModel::flush);
    connect(run, &QueryRun::sessionLost, this, &ResultModel::flush);
    connect(run, &QueryRun::failureStreak, this, &ResultModel::flush);
}

QStringList ResultModel::headerTexts() {
    return {u"209帐号"_s,
            u"结果"_s,
            u"光猫接收光功率(dB)"_s,
            u"光猫发送光功率(dB)"_s,
            u"OLT接收光功率(dB)"_s,
            u"OLT发送光功率(dB)"_s,
            u"所属EMS"_s,
            u"OLT IP"_s,
            u"OLT PON"_s,
            u"激活LOID"_s,
            u"分光器名称"_s};
}

int ResultModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_rows;
}

int ResultModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : QueryRun::kColumnCount;
}

QVariant ResultModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_rows)
        return {};
    return m_marker->data(index.row(), index.column(), role);
}

QVariant ResultModel::headerData(int section, Qt::Orientation orientation, int role) const {
    static const QStringList headers = headerTexts();
    if (orientation != Qt::Horizontal || section < 0 || section >= headers.size())
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: // the whole caption where the column cuts it short
        return headers.at(section);
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    default:
        return {};
    }
}

void ResultModel::rowChanged(int row) {
    if (row < 0 || row >= m_rows)
        return;
    m_firstDirty = m_firstDirty < 0 ? row : std::min(m_firstDirty, row);
    m_lastDirty = std::max(m_lastDirty, row);
    scheduleFlush();
}

void ResultModel::scheduleFlush() {
    if (!m_repaint.isActive())
        m_repaint.start();
}

void ResultModel::flush() {
    m_repaint.stop();
    if (m_firstDirty >= 0) {
        const int first = std::exchange(m_firstDirty, -1);
        const int last = std::exchange(m_lastDirty, -1);
        emit dataChanged(index(first, 0), index(last, QueryRun::kColumnCount - 1));
    }
    emit flushed();
}
