#pragma once

#include "handover/Entries.h"
#include "handover/Manifest.h"
#include "platform/FileLock.h"
#include "updater/FileSwap.h"
#include "updater/UpdaterTiming.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

// The updater's single pass: wait for the main program to end, put every downloaded file in
// place, drop the manifest, record the outcome in the user's data folder, hold the window a
// moment, start the main program. Every wait is a timer, so the window stays live and stop() can
// end the pass between any two steps.
class UpdaterFlow : public QObject {
    Q_OBJECT

public:
    using ProcessCheck = std::function<bool(const QString& fileName)>;
    using ProgramStart = std::function<bool(const QString& path, const QString& workingFolder)>;

    enum class Outcome {
        Pending,
        Nothing,    // no list to install
        Refused,    // the list breaks the entry rules, or a copy is unfit: nothing was touched
        Installed,  // the whole list is in
        RolledBack, // an entry could not be installed: the old version was put back
        Busy,       // another updater runs on this folder: it finishes, and restarts the program
    };

    UpdaterFlow(const QString& programFolder, const handover::Manifest& manifest, QObject* parent = nullptr);
    ~UpdaterFlow() override;

    void setTiming(const UpdaterTiming& timing) { m_timing = timing; }
    void setProcessCheck(ProcessCheck check) { m_isRunning = std::move(check); }
    void setProgramStart(ProgramStart start) { m_startProgram = std::move(start); }
    // Called with 0 before the first file-system step of the swap and with each step's number.
    void setStepHook(std::function<void(int)> hook) { m_stepHook = std::move(hook); }
    // Where the swap's file-system steps go; tests record them.
    void setFileSteps(platform::FileSteps* steps) { m_fileSteps = steps; }

    // `shownAt` is when the window appeared; the hold counts from there.
    void start(const QElapsedTimer& shownAt);
    void stop();

    int processChecks() const { return m_checks; }
    Outcome outcome() const { return m_outcome; }

signals:
    void finished();

private:
    void takeLock();
    void checkMainProgram();
    void beginSwap();
    void swapNext();
    void installCurrent();
    void refuse(const FileSwap::Failure& why);
    void endSwap(Outcome outcome);
    void record();
    void launch();
    void after(int ms, void (UpdaterFlow::*step)());
    QString manifestPath() const;

    QString m_folder;
    handover::Manifest m_manifest;
    QStringList m_entries;
    handover::ListCheck m_listCheck;
    UpdaterTiming m_timing;
    ProcessCheck m_isRunning;
    ProgramStart m_startProgram;
    std::function<void(int)> m_stepHook;
    platform::FileSteps* m_fileSteps = &platform::diskSteps();
    std::unique_ptr<platform::FileLock> m_lock;
    std::unique_ptr<FileSwap> m_swap;
    QElapsedTimer m_shownAt;
    QTimer m_timer;
    void (UpdaterFlow::*m_nextStep)() = nullptr;
    int m_checks = 0;
    int m_lockTries = 0;
    int m_position = 0; // in the swap order
    Outcome m_outcome = Outcome::Pending;
    FileSwap::Failure m_failure; // why the list was refused or rolled back
};
