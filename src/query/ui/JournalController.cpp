#include "query/ui/JournalController.h"

#include "journal/RunJournal.h"
#include "query/JournalLink.h"
#include "query/ListHistory.h"
#include "query/QueryRun.h"
#include "query/ui/HistoryWindow.h"
#include "query/ui/MainControls.h"
#include "query/ui/ResultModel.h"
#include "query/ui/RowMarker.h"
#include "query/ui/RunWiring.h"
#include "team/TeamSync.h"

#include <QAction>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QTreeView>

#include <algorithm>

using namespace Qt::StringLiterals;

JournalController::JournalController(QWidget* window, const MainControls* controls, QueryRun* run,
                                     RowMarker* marker, ResultModel* model, RunWiring* wiring,
                                     RunJournal* journal, TeamStore* store, TeamSync* sync)
    : QObject(window), m_window(window), m_c(controls), m_run(run), m_marker(marker), m_model(model),
      m_wiring(wiring), m_sync(sync), m_history(new ListHistory(journal, store, this)) {
    QComboBox* rate = m_c->COBNUM;
    m_link = new JournalLink(
        run, journal, [rate] { return rate->currentText().toInt(); }, this);
    m_link->setPreviousSource([this](const QString& account, const QDateTime& before) {
        return m_history->previousReading(account, before);
    });
    connect(m_link, &JournalLink::previousReading, this, &JournalController::setPreviousReading);
    connect(m_link, &JournalLink::rowRecorded, this,
            [this](int row, const QDateTime& takenAt) { m_recordedAt.insert(row, takenAt); });
    // Earlier readings belong to the rows they came with; a new list asks the team for its own.
    connect(run, &QueryRun::rowsBuilt, this, [this] {
        m_marker->clearPreviousReadings();
        m_recordedAt.clear();
        QStringList accounts;
        for (int row = 0; row < m_run->rowCount(); ++row)
            accounts << m_run->cell(row, QueryRun::Account);
        m_history->setAccounts(accounts);
    });
    connect(m_history, &ListHistory::teamStateChanged, this, [this] {
        if (m_history->teamState() == ListHistory::Team::Loaded)
            markAgain();
        showTeamStatus();
    });
    m_wiring->setHistorySource(
        [this](const QStringList& accounts) { return m_history->readingsOf(accounts); });
    connect(m_c->LstV->selectionModel(), &QItemSelectionModel::currentChanged, m_c->mnuHistory,
            [this](const QModelIndex& current) { m_c->mnuHistory->setEnabled(current.isValid()); });
    connect(model, &QAbstractItemModel::modelReset, m_c->mnuHistory,
            [this] { m_c->mnuHistory->setEnabled(false); });
    connect(m_c->mnuHistory, &QAction::triggered, this, &JournalController::showHistory);
    if (sync) {
        m_c->showTeamLine();
        connect(sync, &TeamSync::statusChanged, this, &JournalController::showTeamStatus);
        showTeamStatus();
    }
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
        m_recordedAt.insert(row.position, row.finishedAt);
    }
    markAgain();
    return true;
}

void JournalController::markAgain() {
    for (auto it = m_recordedAt.cbegin(); it != m_recordedAt.cend(); ++it)
        if (const auto previous = m_history->previousReading(m_run->cell(it.key(), QueryRun::Account), it.value()))
            setPreviousReading(it.key(), *previous);
}

void JournalController::showHistory() {
    const int row = m_c->LstV->currentIndex().row();
    if (row < 0 || row >= m_run->rowCount())
        return;
    const QString account = m_run->cell(row, QueryRun::Account);
    auto* window = new HistoryWindow(account, m_history->history(account), m_window);
    window->show();
    window->raise();
}

void JournalController::setPreviousReading(int row, const journal::Reading& previous) {
    m_marker->setPreviousReading(row, previous);
    m_model->rowChanged(row);
}

// The team line: how the database stands, and where the list's history is the PC's own only.
void JournalController::showTeamStatus() {
    if (!m_sync)
        return;
    QString tip = m_sync->statusTip();
    if (m_history->teamState() == ListHistory::Team::Failed)
        tip = u"本列表的历史只含本机的读数。"_s + (tip.isEmpty() ? QString() : u"\n"_s + tip);
    m_c->LabTeam->setText(m_sync->statusText());
    m_c->LabTeam->setToolTip(tip);
}
