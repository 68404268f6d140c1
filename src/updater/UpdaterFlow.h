#pragma once

#include "updater/FileSwap.h"
#include "updater/UpdaterManifest.h"
#include "updater/UpdaterTiming.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

// The updater's single pass: wait for the main program to end, put every downloaded file in
// place, drop the manifest, hold the window a moment, start the main program. Every wait is a
// timer, so the window stays live and stop() can end the pass between any two steps.
class UpdaterFlow : public QObject {
    Q_OBJECT

public:
    using ProcessCheck = std::function<bool(const QString& fileName)>;
    using ProgramStart = std::function<bool(const QString& path, const QString& workingFolder)>;

    UpdaterFlow(const QString& programFolder, const UpdaterManifest& manifest, QObject* parent = nullptr);

    void setTiming(const UpdaterTiming& timing) { m_timing = timing; }
    void setProcessCheck(ProcessCheck check) { m_isRunning = std::move(check); }
    void setProgramStart(ProgramStart start) { m_startProgram = std::move(start); }

    // `shownAt` is when the window appeared; the hold counts from there.
    void start(const QElapsedTimer& shownAt);
    void stop();

    int processChecks() const { return m_checks; }
    const QList<SwapResult>& swapResults() const { return m_results; }

signals:
    void finished();

private:
    void checkMainProgram();
    void swapNext();
    void installCurrent();
    void finishSwaps();
    void launch();
    void after(int ms, void (UpdaterFlow::*step)());

    QString m_folder;
    UpdaterManifest m_manifest;
    UpdaterTiming m_timing;
    ProcessCheck m_isRunning;
    ProgramStart m_startProgram;
    QElapsedTimer m_shownAt;
    QTimer m_timer;
    void (UpdaterFlow::*m_nextStep)() = nullptr;
    int m_checks = 0;
    int m_index = 0;
    QList<SwapResult> m_results;
};
