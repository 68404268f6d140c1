#include "query/ui/PonSummaryController.h"

#include "query/QueryRun.h"
#include "query/ui/MainControls.h"
#include "query/ui/PonSummaryWindow.h"
#include "query/ui/ResultModel.h"
#include "query/ui/RowMarker.h"
#include "query/ui/RunWiring.h"

#include <QAction>
#include <QItemSelection>
#include <QTreeView>

#include <algorithm>

PonSummaryController::PonSummaryController(QWidget* window, const MainControls* controls, const QueryRun* run,
                                           const RowMarker* marker, ResultModel* model, RunWiring* wiring,
                                           const Thresholds* thresholds, const FaultRules& rules)
    : QObject(window), m_window(window), m_c(controls), m_run(run), m_marker(marker), m_model(model),
      m_wiring(wiring), m_thresholds(thresholds), m_rules(rules) {
    m_refresh.setSingleShot(true);
    connect(&m_refresh, &QTimer::timeout, this, &PonSummaryController::refresh);
    // Every change the list shows, drop marks included, reaches it through the model.
    connect(model, &QAbstractItemModel::dataChanged, this, &PonSummaryController::scheduleRefresh);
    connect(model, &QAbstractItemModel::modelReset, this, &PonSummaryController::scheduleRefresh);
    connect(m_c->mnuPonSummary, &QAction::triggered, this, &PonSummaryController::open);
}

QList<PonPort> PonSummaryController::summary() const {
    PonSummary summary(*m_thresholds, m_rules);
    const int count = m_run->rowCount();
    for (int row = 0; row < count; ++row) {
        if (m_run->isDone(row))
            summary.add(row, m_run->row(row), {true, m_marker->isDrop(row)});
    }
    return summary.ports();
}

void PonSummaryController::open() {
    if (!m_summaryWindow) {
        m_summaryWindow = new PonSummaryWindow(m_window);
        // Over the middle of the main window, wherever that is.
        m_summaryWindow->move(m_window->frameGeometry().center() - m_summaryWindow->rect().center());
        connect(m_summaryWindow, &PonSummaryWindow::portChosen, this, &PonSummaryController::selectRows);
    }
    m_summaryWindow->show();
    m_summaryWindow->raise();
    m_summaryWindow->activateWindow();
    refresh();
}

// A closed window costs nothing: it is filled again when it opens.
void PonSummaryController::refresh() {
    m_refresh.stop();
    if (!m_summaryWindow || !m_summaryWindow->isVisible())
        return;
    m_summaryWindow->setPorts(summary());
    m_sinceRefresh.start();
}

void PonSummaryController::scheduleRefresh() {
    if (!m_summaryWindow || !m_summaryWindow->isVisible() || m_refresh.isActive())
        return;
    const qint64 since = m_sinceRefresh.isValid() ? m_sinceRefresh.elapsed() : kRefreshMs;
    m_refresh.start(int(std::clamp<qint64>(kRefreshMs - since, 0, kRefreshMs)));
}

void PonSummaryController::selectRows(const QList<int>& rows) {
    QItemSelection selection;
    int first = -1;
    const int count = m_model->rowCount();
    const int lastColumn = m_model->columnCount() - 1;
    for (qsizetype i = 0; i < rows.size();) {
        // Runs of neighbouring rows make one range each.
        qsizetype end = i + 1;
        while (end < rows.size() && rows[end] == rows[end - 1] + 1)
            ++end;
        if (rows[i] >= 0 && rows[end - 1] < count) {
            selection.select(m_model->index(rows[i], 0), m_model->index(rows[end - 1], lastColumn));
            if (first < 0)
                first = rows[i];
        }
        i = end;
    }
    if (first < 0)
        return;
    QItemSelectionModel* selected = m_c->LstV->selectionModel();
    selected->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    selected->setCurrentIndex(m_model->index(first, 0), QItemSelectionModel::NoUpdate);
    m_wiring->stopFollowing();
    m_c->LstV->scrollTo(m_model->index(first, 0), QAbstractItemView::PositionAtTop);
}
