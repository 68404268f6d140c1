#pragma once

#include "handover/UpdateOutcome.h"

#include <QDateTime>
#include <QString>

#include <optional>

// What the main program makes of the last hand-over's outcome.
namespace failed_install {

// A version whose install failed is not fetched again for this long.
constexpr qint64 kRetryAfterSeconds = 24 * 60 * 60;

// Whether the server's version is held back: its install failed less than a day ago. Another
// version is tried at once, and so is any version when the clock now reads before the failure.
bool holdsBack(const std::optional<handover::UpdateOutcome>& last, const QString& serverVersion,
               const QDateTime& now);

// Whether a failure is still to be told: the last hand-over failed and no start has shown it.
bool toTell(const std::optional<handover::UpdateOutcome>& last);

} // namespace failed_install
