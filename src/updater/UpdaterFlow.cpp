#include "updater/UpdaterFlow.h"

#include "platform/ProcessLookup.h"
#include "update_client/UpdateEntries.h"

#include <QFile>
#include <QProcess>

UpdaterFlow::UpdaterFlow(const QString& programFolder, const UpdaterManifest& manifest, QObject* parent)
    : QObject(parent), m_folder(programFolder), m_manifest(manifest),
      m_isRunning(&platform::isProcessRunning),
      m_startProgram([](const QString& path, const QString& folder) {
          return QProcess::startDetached(path, {}, folder);
      }) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_nextStep)
            (this->*m_nextStep)();
    });
}

void UpdaterFlow::start(const QElapsedTimer& shownAt) {
    m_shownAt = shownAt;
    m_checks = 0;
    m_index = 0;
    m_results.clear();
    if (m_manifest.mainApp.isEmpty())
        swapNext();
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
        swapNext();
        return;
    }
    // After the last look the swap goes ahead even though the program still runs.
    after(m_timing.checkIntervalMs,
          m_checks >= m_timing.maxChecks ? &UpdaterFlow::swapNext : &UpdaterFlow::checkMainProgram);
}

void UpdaterFlow::swapNext() {
    while (m_index < m_manifest.entries.size()) {
        const QString& entry = m_manifest.entries.at(m_index);
        const bool named =
            update_entries::isConfined(entry) && (m_index > 0 || !m_manifest.mainApp.isEmpty());
        if (named) {
            after(m_timing.swapPauseMs, &UpdaterFlow::installCurrent);
            return;
        }
        m_results << SwapResult::NotNamed;
        ++m_index;
    }
    finishSwaps();
}

void UpdaterFlow::installCurrent() {
    const QString& entry = m_manifest.entries.at(m_index);
    const QString target = update_entries::installPath(m_folder, m_index, entry, m_manifest.mainApp);
    m_results << swapIn(update_entries::downloadCopyPath(m_folder, entry), target, m_index == 0);
    ++m_index;
    swapNext();
}

void UpdaterFlow::finishSwaps() {
    QFile::remove(m_folder + QStringLiteral("update.ini"));
    after(m_timing.minShownMs - static_cast<int>(m_shownAt.elapsed()), &UpdaterFlow::launch);
}

void UpdaterFlow::launch() {
    m_nextStep = nullptr;
    if (!m_manifest.mainApp.isEmpty())
        m_startProgram(m_folder + m_manifest.mainApp, m_folder);
    emit finished();
}
