#include "app/WorkWindows.h"

#include "common/ui/Dialogs.h"
#include "common/ui/WindowKit.h"
#include "journal/ReadingStore.h"
#include "journal/RunJournal.h"
#include "query/JournalLink.h"
#include "query/Thresholds.h"
#include "query/ui/FrmMain.h"
#include "team/TeamConfig.h"
#include "team/TeamStore.h"
#include "team/TeamSync.h"

WorkWindows::WorkWindows(const CookieSource* cookies, QObject* parent, const QString& journalPath)
    : QObject(parent), m_cookies(cookies),
      m_journal(
          std::make_unique<RunJournal>(journalPath.isEmpty() ? RunJournal::defaultPath() : journalPath)) {
    // Queued: the notice may be raised in the middle of recording a row.
    connect(m_journal.get(), &RunJournal::noticeRaised, this, &WorkWindows::showJournalNotice,
            Qt::QueuedConnection);
    const TeamConfig team = TeamConfig::fromIni(Thresholds::iniPath());
    m_journal->readings()->setTakenBy(team.name());
    if (team.isEnabled()) {
        m_journal->readings()->setQueueing(true);
        m_teamStore = std::make_unique<TeamStore>(team);
        m_teamSync = std::make_unique<TeamSync>(m_journal->readings(), m_teamStore.get());
        connect(m_journal.get(), &RunJournal::rowRecorded, m_teamSync.get(), &TeamSync::readingsQueued);
    }
    showJournalNotice();
}

// The main window goes first: it holds the journal's address, and the team's.
WorkWindows::~WorkWindows() {
    m_main.reset();
    m_teamSync.reset();
    m_teamStore.reset();
}

void WorkWindows::signedIn() {
    const bool first = !m_main;
    if (first) {
        m_main = std::make_unique<FrmMain>(m_cookies);
        m_main->attachJournal(m_journal.get(), m_teamStore.get(), m_teamSync.get());
        if (m_teamSync)
            m_teamSync->start();
        connect(m_main.get(), &FrmMain::programEndRequested, this, &WorkWindows::endProgram);
        connect(m_main.get(), &FrmMain::signInNeeded, this, &WorkWindows::signInNeeded);
        connect(m_main.get(), &FrmMain::signInWindowWanted, this, &WorkWindows::signInWindowWanted);
        centreOnScreen(m_main.get());
    }
    if (!m_main->isVisible()) {
        m_main->show();
        m_main->raise();
        m_main->activateWindow();
    }
    m_main->sessionRenewed();
    if (first)
        offerRestore();
}

bool WorkWindows::confirmEnd(QWidget* asker) {
    return !m_main || m_main->confirmExit(asker);
}

// Told without waiting for the click: a run is never held up by its journal.
void WorkWindows::showJournalNotice() {
    const QString notice = m_journal->takeNotice();
    if (!notice.isEmpty())
        dialogs::ask(m_main.get(), QMessageBox::Warning, notice, QMessageBox::Ok, this, [](auto) {});
}

void WorkWindows::offerRestore() {
    const auto unfinished = m_journal->claimUnfinished();
    if (!unfinished)
        return;
    const qint64 id = unfinished->id;
    const QPointer<QMessageBox> box = dialogs::ask(
        m_main.get(), QMessageBox::Question, JournalLink::restoreQuestion(*unfinished),
        QMessageBox::Yes | QMessageBox::No, this,
        [this, id](QMessageBox::StandardButton answer) { answerRestore(id, answer == QMessageBox::Yes); });
    if (box) {
        // Modal to the main window, so that no new run starts under the question.
        box->setDefaultButton(QMessageBox::Yes);
        box->hide();
        box->setWindowModality(Qt::WindowModal);
        box->show();
    }
}

void WorkWindows::answerRestore(qint64 journalRun, bool restore) {
    const auto stored = restore ? m_journal->loadRun(journalRun) : std::nullopt;
    if (!stored || !m_main || !m_main->restoreJournalRun(*stored))
        m_journal->endRun(journalRun, journal::RunState::Stopped);
}
