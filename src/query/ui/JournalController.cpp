#include "query/ui/JournalController.h"

#include "journal/RunJournal.h"
#include "query/JournalLink.h"
#include "query/QueryRun.h"
#include "query/ui/HistoryWindow.h"
#include "query/ui/MainControls.h"
#include "query/ui/ResultModel.h"
#include "query/ui/RowMarker.h"
#include "query/ui/RunWiring.h"

#include <QAction>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QTreeView>

#include <algorithm>

JournalController::JournalController(QWidget* window, const MainControls* controls, QueryRun* run,
                                     RowMarker* marker, ResultModel* model, RunWiring* wiring,
                                     RunJournal* journal)
    : QObject(window), m_window(window), m_c(controls), m_run(run), m_marker(marker), m_model(model),
      m_wiring(wiring), m_journal(journal) {
    QComboBox* rate = m_c->COBNUM;
    m_link = new JournalLink(
        run, journal, [rate] { return rate->currentText().toInt(); }, this);
    connect(m_link, &JournalLink::previousReading, this, &JournalController::setPreviousReading);
    // Earlier readings belong to the rows they came with.
    connect(run, &QueryRun::rowsBuilt, this, [this] { m_marker->clearPreviousReadings(); });
    m_wiring->setHistorySource(
        [journal](const QStringList& accounts) { return journal->readingsOf(accounts); });
    connect(m_c->LstV->selectionModel(), &QItemSelectionModel::currentChanged, m_c->mnuHistory,
            [this](const QModelIndex& current) { m_c->mnuHistory->setEnabled(current.isValid()); });
    connect(model, &QAbstractItemModel::modelReset, m_c->mnuHistory,
            [this] { m_c->mnuHistory->setEnabled(false); });
    connect(m_c->mnuHistory, &QAction::triggered, this, &JournalController::showHistory);
}

bool JournalController::restore(const journal::RestoredRun& stored) {
    if (m_run->isRunning())
        return false;
    QList<QueryRun::SavedRow> rows(stored.accounts.size());
    for (qsizetype i = 0; i < stored.accounts.size(); ++i)
        rows[i].cells[QueryRun::Account] = stored.accounts[i];
    for (const journal::StoredRow& row : stored.rows) {
        if (row.position < 0 || row.position >= rows.size())
            continue;
        QueryRun::SavedRow& saved = rows[row.position];
        const int count = int(std::min<qsizetype>(row.cells.size(), QueryRun::kColumnCount));
        for (int column = 1; column < count; ++column)
            saved.cells[size_t(column)] = row.cells[column];
        saved.finished = true;
        saved.failure = row.failure;
    }
    m_link->adopt(stored.id);
    if (!m_wiring->resume(rows, stored.rate))
        return false;
    // Compared with what the account read before each row was taken, as when it finished.
    for (const journal::StoredRow& row : stored.rows) {
        if (row.position < 0 || row.position >= rows.size() || !row.failure.isEmpty())
            continue;
        if (const auto previous = m_journal->previousReading(stored.accounts[row.position], row.finishedAt))
            setPreviousReading(row.position, *previous);
    }
    return true;
}

void JournalController::showHistory() {
    const int row = m_c->LstV->currentIndex().row();
    if (row < 0 || row >= m_run->rowCount())
        return;
    const QString account = m_run->cell(row, QueryRun::Account);
    auto* window = new HistoryWindow(account, m_journal->history(account), m_window);
    window->show();
    window->raise();
}

void JournalController::setPreviousReading(int row, const journal::Reading& previous) {
    m_marker->setPreviousReading(row, previous);
    m_model->rowChanged(row);
}
