#include "team/TeamMerge.h"

#include <QHashFunctions>
#include <QSet>

#include <algorithm>
#include <vector>

namespace {

struct Key {
    QString account;
    qint64 takenAtMs;
    QString takenBy;

    friend bool operator==(const Key&, const Key&) = default;
    friend size_t qHash(const Key& key, size_t seed = 0) {
        return qHashMulti(seed, key.account, key.takenAtMs, key.takenBy);
    }
};

} // namespace

QList<TeamReading> mergeReadings(const QList<TeamReading>& local, const QList<TeamReading>& team) {
    // A list's history is hundreds of thousands of readings: sorted by one integer each.
    std::vector<std::pair<qint64, const TeamReading*>> kept;
    kept.reserve(size_t(local.size() + team.size()));
    QSet<Key> seen;
    seen.reserve(local.size() + team.size());
    for (const QList<TeamReading>* list : {&local, &team}) {
        for (const TeamReading& reading : *list) {
            const qint64 ms = reading.takenAt.toMSecsSinceEpoch();
            const qsizetype before = seen.size();
            seen.insert(Key{reading.account, ms, reading.takenBy});
            if (seen.size() > before)
                kept.emplace_back(ms, &reading);
        }
    }
    std::stable_sort(kept.begin(), kept.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    QList<TeamReading> merged;
    merged.reserve(qsizetype(kept.size()));
    for (const auto& entry : kept)
        merged << *entry.second;
    return merged;
}
