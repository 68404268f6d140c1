#pragma once

#include "platform/FileSystem.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// Puts the downloaded copies of one update in place, one file-system step at a time, so that a
// kill or a power cut between any two steps leaves every named file wholly old or wholly new and
// the main program always in place. Each installed file is first copied to the staging folder
// (its backup; a file that is new gets a mark there instead), then the copy takes its place in
// one atomic step; the backups stay until the whole list is in, so a failure can put the old
// version back. What a killed run left is found again from the files alone: an entry whose copy
// is gone is in. Every step is synced before the next, in the order the resume relies on.
class FileSwap {
public:
    enum class Result {
        Installed,
        AlreadyIn, // no copy waits: installed by an earlier, interrupted run
        Failed,
    };

    // Why the swap cannot go on: the entry at fault (as the list names it) and the reason in
    // Chinese, naming the file in the program folder.
    struct Failure {
        QString entry;
        QString reason;
    };

    // `entries` and `mainApp` as the manifest names them; the list passed the entry rules, and the
    // staging folder is there.
    FileSwap(const QString& programFolder, const QStringList& entries, const QString& mainApp,
             platform::FileSteps& steps = platform::diskSteps());

    // Indexes in the order they are installed: every other file first, the main program last,
    // so that the old main program, which finishes an interrupted update, stays until the end.
    const QList<int>& order() const { return m_order; }

    // Before anything is touched: no entry path crosses a link, and a waiting copy of the main
    // program is a program for this system. When not, failure() says why.
    bool ready();

    Result install(int index);

    // The install undone, last entry first. An installed file is first given its copy name as
    // well (a second link to it, or a synced copy), then its backup takes its place in one atomic
    // step, so the name is never missing; a new file goes back to its copy name. Then the manifest
    // moves into the staging folder, the copies go, and the staging folder goes. At every step the
    // folder is one that the next start finishes or clears, so a step that fails stops here:
    // false then.
    bool rollBack(const QString& manifestPath);

    // The whole list is in: the backups go, then the manifest.
    [[nodiscard]] bool finish(const QString& manifestPath);

    // Set when ready() or install() refused or failed.
    const Failure& failure() const { return m_failure; }

    // Called with 0 before the first step and with the number of each step once it is done.
    void setStepHook(std::function<void(int)> hook) { m_hook = std::move(hook); }
    void begin();

private:
    void stepDone();
    QString copy(int index) const;
    QString target(int index) const;
    QString shown(int index) const; // the installed name, relative, as the user sees it
    bool fail(int index, const QString& what, const QString& name, platform::FileFault fault);
    bool makeFolders(const QString& folder);
    bool renameSynced(const QString& from, const QString& to);
    bool removeSynced(const QString& path, bool folder);
    bool keepAsCopy(int index);

    QString m_folder;
    QStringList m_entries;
    QString m_mainApp;
    platform::FileSteps& m_fs;
    QList<int> m_order;
    std::function<void(int)> m_hook;
    int m_steps = 0;
    Failure m_failure;
};
