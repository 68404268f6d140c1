#pragma once

#include "team/ReadingOutbox.h"

// The outbox in memory, for tests of its drain; the journal keeps the real one.
class MemoryOutbox : public ReadingOutbox {
public:
    void add(const TeamReading& reading) { m_entries << OutboxEntry{++m_lastId, reading}; }
    QList<OutboxEntry> peekOutbox(int limit) override { return m_entries.mid(0, limit); }
    void removeFromOutbox(const QList<qint64>& ids) override {
        m_entries.removeIf([&ids](const OutboxEntry& entry) { return ids.contains(entry.id); });
    }
    int outboxSize() override { return int(m_entries.size()); }

private:
    QList<OutboxEntry> m_entries;
    qint64 m_lastId = 0;
};
