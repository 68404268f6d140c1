#pragma once

#include "journal/JournalTypes.h"
#include "team/TeamReading.h"

#include <QHash>
#include <QObject>
#include <QStringList>

#include <optional>

class RunJournal;
class TeamStore;

// The readings behind the list's drop marks, "查看历史" and the export's "历史" sheet: the PC's own
// from the journal and, with a team database, the team's readings of the list's accounts, fetched
// in one query when the list is built. Each reading counts once. Until the team's arrive, or where
// the database cannot be reached, the PC's own stand alone, and teamState() says so.
class ListHistory : public QObject {
    Q_OBJECT

public:
    enum class Team { None, Fetching, Loaded, Failed };

    // store may be null: no team database.
    ListHistory(RunJournal* journal, TeamStore* store, QObject* parent = nullptr);

    // The list was built with these accounts: their team readings are asked for, in one query.
    void setAccounts(const QStringList& accounts);
    Team teamState() const { return m_team; }

    // The account's newest reading taken before the given time, the PC's or a colleague's.
    std::optional<journal::Reading> previousReading(const QString& account, const QDateTime& before);
    // Newest first.
    QList<journal::Reading> history(const QString& account);
    QList<journal::Reading> readingsOf(const QStringList& accounts);

signals:
    // The team's readings of the list came (marks may change), or could not be had.
    void teamStateChanged();

private:
    void fetch();
    void onFetched(quint64 request, const QList<TeamReading>& readings);
    void onFailed(quint64 request);
    QList<journal::Reading> merged(const QList<journal::Reading>& own, const QStringList& accounts) const;

    RunJournal* m_journal;
    TeamStore* m_store;
    Team m_team = Team::None;
    QStringList m_accounts;
    quint64 m_request = 0;
    QHash<QString, QList<TeamReading>> m_teamReadings; // by account, newest first
};
