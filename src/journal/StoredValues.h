#pragma once

#include <QDateTime>
#include <QString>

// How the journal's tables hold values: times as milliseconds since the epoch, empty cells as NULL.
namespace journal {

inline qint64 toMs(const QDateTime& time) {
    return time.toMSecsSinceEpoch();
}

// In UTC: converting a million readings to local time costs seconds; windows convert what they show.
inline QDateTime fromMs(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
}

inline QString orNull(const QString& text) {
    return text.isEmpty() ? QString() : text;
}

} // namespace journal
