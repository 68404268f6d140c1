#include "update_client/FailedInstall.h"

namespace failed_install {

bool holdsBack(const std::optional<handover::UpdateOutcome>& last, const QString& serverVersion,
               const QDateTime& now) {
    if (!last || !last->failed() || last->version != serverVersion)
        return false;
    const qint64 since = last->time.secsTo(now);
    return since >= 0 && since < kRetryAfterSeconds;
}

bool toTell(const std::optional<handover::UpdateOutcome>& last) {
    return last && last->failed() && !last->told;
}

} // namespace failed_install
