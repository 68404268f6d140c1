#include "updater/UpdaterFlow.h"

#include "handover/Entries.h"
#include "handover/Folder.h"
#include "handover/Locks.h"
#include "handover/Names.h"
#include "handover/UpdateOutcome.h"
#include "platform/ProcessLookup.h"

#include <QDateTime>
#include <QFile>
#include <QProcess>

using namespace Qt::StringLiterals;

UpdaterFlow::UpdaterFlow(const QString& programFolder, const handover::Manifest& manifest, QObject* parent)
    : QObject(parent), m_folder(programFolder), m_manifest(manifest), m_entries(manifest.entries()),
      m_listCheck(handover::checkList(manifest.files, manifest.mainApp)),
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
    m_lockTries = 0;
    m_position = 0;
    m_outcome = Outcome::Pending;
    takeLock();
}

void UpdaterFlow::stop() {
    m_timer.stop();
    m_nextStep = nullptr;
}

void UpdaterFlow::after(int ms, void (UpdaterFlow::*step)()) {
    m_nextStep = step;
    m_timer.start(qMax(0, ms));
}

// Held from the first look at the main program until the main program is started again, so that
// neither a second updater nor a second start of the main program steps in meanwhile.
void UpdaterFlow::takeLock() {
    handover::LockState state = handover::LockState::CannotMake;
    m_lock = handover::takeLock(m_folder, handover::Holder::Updater, &state);
    if (state == handover::LockState::Held) {
        // A main program that looks at it holds it for a moment, and a busy machine may stretch
        // that moment: only a lock still taken after a while means another updater.
        constexpr int kTries = 30;
        if (++m_lockTries < kTries) {
            after(m_timing.checkIntervalMs, &UpdaterFlow::takeLock);
            return;
        }
        // The other updater finishes, and starts the main program itself.
        m_manifest.mainApp.clear();
        endSwap(Outcome::Busy);
        return;
    }
    // A lock that cannot be made at all: nothing is swapped (see beginSwap).
    if (m_manifest.mainApp.isEmpty())
        beginSwap();
    else
        checkMainProgram();
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
    if (m_entries.isEmpty()) {
        QFile::remove(manifestPath());
        endSwap(Outcome::Nothing);
        return;
    }
    if (!m_listCheck.accepted()) {
        refuse({m_listCheck.entry, handover::describe(m_listCheck)});
        return;
    }
    // Without the lock, or with a staging folder that is a link or cannot be made, nothing is
    // swapped: the backups would have no safe place.
    if (!m_lock) {
        refuse({QString(), u"无法建立程序文件夹的更新锁：用户数据文件夹无法写入"_s});
        return;
    }
    if (!handover::prepareStaging(m_folder)) {
        refuse({QString(), u"无法创建文件夹 %1"_s.arg(handover::stagingName())});
        return;
    }
    m_swap = std::make_unique<FileSwap>(m_folder, m_entries, m_manifest.mainApp, *m_fileSteps);
    m_swap->setStepHook(m_stepHook);
    if (!m_swap->ready()) {
        m_failure = m_swap->failure();
        // What an interrupted run put in goes back out.
        static_cast<void>(m_swap->rollBack(manifestPath()));
        endSwap(Outcome::Refused);
        return;
    }
    m_swap->begin();
    swapNext();
}

void UpdaterFlow::refuse(const FileSwap::Failure& why) {
    m_failure = why;
    if (QFile::remove(manifestPath()))
        static_cast<void>(platform::syncFolder(m_folder));
    endSwap(Outcome::Refused);
}

void UpdaterFlow::swapNext() {
    if (m_position < m_swap->order().size()) {
        after(m_timing.swapPauseMs, &UpdaterFlow::installCurrent);
        return;
    }
    // Backups and manifest go only now that every file is in; a failure here leaves them for
    // the main program's next start, which finds nothing waiting and clears them.
    static_cast<void>(m_swap->finish(manifestPath()));
    endSwap(Outcome::Installed);
}

void UpdaterFlow::installCurrent() {
    const int index = m_swap->order().at(m_position);
    if (m_swap->install(index) == FileSwap::Result::Failed) {
        m_failure = m_swap->failure();
        // A roll-back cut short leaves the manifest: the next start finishes the update instead.
        static_cast<void>(m_swap->rollBack(manifestPath()));
        endSwap(Outcome::RolledBack);
        return;
    }
    ++m_position;
    swapNext();
}

void UpdaterFlow::endSwap(Outcome outcome) {
    m_outcome = outcome;
    record();
    after(m_timing.minShownMs - static_cast<int>(m_shownAt.elapsed()), &UpdaterFlow::launch);
}

// The main program's next start tells the user of a failure, and does not fetch that version
// again for a while. A failure that cannot be recorded would be tried again at once by the main
// program started now, and again after that: it is not started then.
void UpdaterFlow::record() {
    using Result = handover::UpdateOutcome::Result;
    Result result = Result::Installed;
    switch (m_outcome) {
    case Outcome::Installed:
        break;
    case Outcome::RolledBack:
        result = Result::RolledBack;
        break;
    case Outcome::Refused:
        result = Result::Refused;
        break;
    case Outcome::Pending:
    case Outcome::Nothing:
    case Outcome::Busy:
        return;
    }
    handover::UpdateOutcome outcome;
    outcome.version = m_manifest.newVersion;
    outcome.result = result;
    outcome.entry = m_failure.entry;
    outcome.reason = m_failure.reason;
    outcome.time = QDateTime::currentDateTimeUtc();
    if (!handover::writeOutcome(m_folder, outcome) && outcome.failed())
        m_manifest.mainApp.clear();
}

void UpdaterFlow::launch() {
    m_nextStep = nullptr;
    // The main program about to start must find the folder free.
    m_lock.reset();
    if (!m_manifest.mainApp.isEmpty())
        m_startProgram(m_folder + m_manifest.mainApp, m_folder);
    emit finished();
}
