#include "updater/UpdaterFlow.h"

#include "handover/Entries.h"
#include "handover/Folder.h"
#include "handover/Names.h"
#include "platform/ProcessLookup.h"

#include <QFile>
#include <QProcess>

using namespace Qt::StringLiterals;

UpdaterFlow::UpdaterFlow(const QString& programFolder, const handover::Manifest& manifest, QObject* parent)
    : QObject(parent), m_folder(programFolder), m_manifest(manifest), m_entries(manifest.entries()),
      m_listAccepted(handover::checkList(manifest.files, manifest.mainApp).accepted()),
      m_isRunning(&platform::isProcessRunning),
      m_startProgram([](const QString& path, const QString& folder) {
          return QProcess::startDetached(path, {}, folder);
      }) {
    // A name with a folder part, or one Windows would read otherwise, names no main program.
    if (!handover::isPortableName(m_manifest.mainApp))
        m_manifest.mainApp.clear();
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_nextStep)
            (this->*m_nextStep)();
    });
}

UpdaterFlow::~UpdaterFlow() = default;

QString UpdaterFlow::manifestPath() const {
    return m_folder + handover::manifestFileName();
}

void UpdaterFlow::start(const QElapsedTimer& shownAt) {
    m_shownAt = shownAt;
    m_checks = 0;
    m_position = 0;
    m_outcome = Outcome::Pending;
    if (m_manifest.mainApp.isEmpty())
        beginSwap();
    else
        checkMainProgram();
}

void UpdaterFlow::stop() {
    m_timer.stop();
    m_nextStep = nullptr;
}

void UpdaterFlow::after(int ms, void (UpdaterFlow::*step)()) {
    m_nextStep = step;
    m_timer.start(qMax(0, ms));
}

void UpdaterFlow::checkMainProgram() {
    ++m_checks;
    if (!m_isRunning(m_manifest.mainApp)) {
        beginSwap();
        return;
    }
    // After the last look the swap goes ahead even though the program still runs.
    after(m_timing.checkIntervalMs,
          m_checks >= m_timing.maxChecks ? &UpdaterFlow::beginSwap : &UpdaterFlow::checkMainProgram);
}

void UpdaterFlow::beginSwap() {
    // A list the client would have refused is installed in no part.
    if (m_entries.isEmpty() || !m_listAccepted) {
        QFile::remove(manifestPath());
        endSwap(m_entries.isEmpty() ? Outcome::Nothing : Outcome::Refused);
        return;
    }
    // Two updaters on one folder (the program started again while one runs) would take each
    // other's backups away: the second one leaves the folder to the first.
    if (handover::prepareStaging(m_folder)) {
        m_lock = std::make_unique<QLockFile>(handover::stagingFolder(m_folder) + u"updater.lock"_s);
        if (!m_lock->tryLock(0)) {
            m_lock.reset();
            m_manifest.mainApp.clear();
            endSwap(Outcome::Busy);
            return;
        }
    }
    m_swap = std::make_unique<FileSwap>(m_folder, m_entries, m_manifest.mainApp);
    m_swap->setStepHook(m_stepHook);
    if (!m_swap->ready()) {
        unlock();
        m_swap->rollBack(manifestPath());
        endSwap(Outcome::Refused);
        return;
    }
    m_swap->begin();
    swapNext();
}

void UpdaterFlow::swapNext() {
    if (m_position < m_swap->order().size()) {
        after(m_timing.swapPauseMs, &UpdaterFlow::installCurrent);
        return;
    }
    // Backups and manifest go only now that every file is in; a failure here leaves them for
    // the main program's next start, which finds nothing waiting and clears them.
    unlock();
    static_cast<void>(m_swap->finish(manifestPath()));
    endSwap(Outcome::Installed);
}

void UpdaterFlow::installCurrent() {
    const int index = m_swap->order().at(m_position);
    if (m_swap->install(index) == FileSwap::Result::Failed) {
        unlock();
        m_swap->rollBack(manifestPath());
        endSwap(Outcome::RolledBack);
        return;
    }
    ++m_position;
    swapNext();
}

// Before the staging folder goes: an open lock file would keep it on Windows.
void UpdaterFlow::unlock() {
    if (m_lock)
        m_lock->unlock();
    m_lock.reset();
}

void UpdaterFlow::endSwap(Outcome outcome) {
    m_outcome = outcome;
    after(m_timing.minShownMs - static_cast<int>(m_shownAt.elapsed()), &UpdaterFlow::launch);
}

void UpdaterFlow::launch() {
    m_nextStep = nullptr;
    if (!m_manifest.mainApp.isEmpty())
        m_startProgram(m_folder + m_manifest.mainApp, m_folder);
    emit finished();
}
