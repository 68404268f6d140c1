#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// What became of the last hand-over on a program folder: written by the updater when it ends, read
// by the main program at its next start, which tells the user of a failure once and does not
// fetch that version again for a while. One file per program folder in the user's data folder,
// "updates/<folder key>.json", replaced whole each time.
namespace handover {

struct UpdateOutcome {
    enum class Result {
        Installed,
        RolledBack, // an entry could not be installed: the installed version was put back
        Refused,    // nothing was installed: the list or a copy was unfit, or the folder not ours
    };
    QString version; // the version the update would have installed (NewVer)
    Result result = Result::Installed;
    QString entry;     // the entry at fault, as update_files names it; empty when none is
    QString reason;    // why, in Chinese, naming the file; empty when installed
    QDateTime time;    // when the updater ended (UTC)
    bool told = false; // the main program has shown the failure

    bool failed() const { return result != Result::Installed; }
};

QString outcomePath(const QString& programFolder);

// Replaces the record of the folder: a temporary file, synced, renamed into place, its folder
// synced. The record is the old one or the new one, never a part.
[[nodiscard]] bool writeOutcome(const QString& programFolder, const UpdateOutcome& outcome);

// The record, or nothing when there is none or it cannot be read.
std::optional<UpdateOutcome> readOutcome(const QString& programFolder);

} // namespace handover
