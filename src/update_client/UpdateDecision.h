#pragma once

#include <QString>

#include <optional>

struct UpdateInfo {
    QString version; // server version, as the reply spells it
    QString files;   // update_files, comma-separated entries
    QString notes;   // update_notes
    // Optional update_sizes and update_sha256: comma-separated, one per entry; empty when the
    // reply has none.
    QString sizes;
    QString sha256;
};

// What the update check makes of the server's reply. A pure function of the reply text and the
// installed version, so every reply can be tried without a server.
struct UpdateDecision {
    enum class Outcome { UpToDate, Update, Failure };
    Outcome outcome = Outcome::Failure;
    std::optional<QString> serverVersion; // once read, shown even when a later member fails
    UpdateInfo info;                      // for an update
    QString prompt;                       // for a failure: the whole text of the prompt
};

UpdateDecision decideUpdate(const QString& replyText, const QString& installedVersion);

// The prompt texts of a failed check or update.
QString refusalPrompt(const QString& message);     // the server refused with a message of its own
QString failurePrompt(const QString& description); // any other failure; the description may be empty
// The descriptions of a reply member that cannot be read.
QString missingMemberText();
QString nullMemberText();
