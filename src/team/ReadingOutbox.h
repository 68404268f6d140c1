#pragma once

#include "team/TeamReading.h"

#include <QList>

// A queued reading and its id in the queue.
struct OutboxEntry {
    qint64 id = 0;
    TeamReading reading;
};

// The queue of readings on their way to the team database, kept in the journal's file so that it
// survives a kill or a restart. TeamSync drains it; the journal fills it in the transaction that
// records the reading, then calls TeamSync::readingsQueued(). Header only, so the journal
// implements it without linking libpq. Every call comes from the GUI thread.
class ReadingOutbox {
public:
    virtual ~ReadingOutbox() = default;
    // Up to limit entries, oldest first.
    virtual QList<OutboxEntry> peekOutbox(int limit) = 0;
    // Called once the batch holding these entries is committed in the team database. An entry
    // removed only then may be sent twice (a crash between the commit and this call); the team
    // database's unique key stores it once.
    virtual void removeFromOutbox(const QList<qint64>& ids) = 0;
    virtual int outboxSize() = 0;
};
