#include "query/ListHistory.h"

#include "journal/RunJournal.h"
#include "team/TeamMerge.h"
#include "team/TeamStore.h"

#include <QSet>

ListHistory::ListHistory(RunJournal* journal, TeamStore* store, QObject* parent)
    : QObject(parent), m_journal(journal), m_store(store) {
    if (!store)
        return;
    connect(store, &TeamStore::historyFetched, this, &ListHistory::onFetched);
    connect(store, &TeamStore::historyFailed, this, &ListHistory::onFailed);
    // A database back after a failure: the list gets its colleagues' readings after all.
    connect(store, &TeamStore::statusChanged, this, [this](TeamStore::Status status) {
        if (status == TeamStore::Status::Connected && m_team == Team::Failed)
            fetch();
    });
}

void ListHistory::setAccounts(const QStringList& accounts) {
    m_accounts = accounts;
    m_accounts.removeDuplicates();
    m_teamReadings.clear();
    if (m_store)
        fetch();
}

void ListHistory::fetch() {
    m_team = Team::Fetching;
    m_store->fetchHistory(++m_request, m_accounts);
    emit teamStateChanged();
}

void ListHistory::onFetched(quint64 request, const QList<TeamReading>& readings) {
    if (request != m_request)
        return; // a list since replaced
    m_teamReadings.clear();
    for (const TeamReading& reading : readings)
        m_teamReadings[reading.account].append(reading);
    m_team = Team::Loaded;
    emit teamStateChanged();
}

void ListHistory::onFailed(quint64 request) {
    if (request != m_request)
        return;
    m_team = Team::Failed;
    emit teamStateChanged();
}

std::optional<journal::Reading> ListHistory::previousReading(const QString& account, const QDateTime& before) {
    std::optional<journal::Reading> previous = m_journal->previousReading(account, before);
    // Newest first: the first one before the time is the team's candidate.
    for (const TeamReading& reading : m_teamReadings.value(account)) {
        if (reading.takenAt >= before)
            continue;
        if (!previous || reading.takenAt > previous->takenAt)
            previous = fromTeamReading(reading);
        break;
    }
    return previous;
}

QList<journal::Reading> ListHistory::history(const QString& account) {
    return merged(m_journal->history(account), {account});
}

QList<journal::Reading> ListHistory::readingsOf(const QStringList& accounts) {
    return merged(m_journal->readingsOf(accounts), accounts);
}

QList<journal::Reading> ListHistory::merged(const QList<journal::Reading>& own, const QStringList& accounts) const {
    if (m_teamReadings.isEmpty())
        return own;
    QList<TeamReading> local;
    local.reserve(own.size());
    for (const journal::Reading& reading : own)
        local << toTeamReading(reading);
    QList<TeamReading> team;
    for (const QString& account : QSet<QString>(accounts.cbegin(), accounts.cend()))
        team << m_teamReadings.value(account);
    QList<journal::Reading> readings;
    const QList<TeamReading> both = mergeReadings(local, team);
    readings.reserve(both.size());
    for (const TeamReading& reading : both)
        readings << fromTeamReading(reading);
    return readings;
}
