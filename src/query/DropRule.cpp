#include "query/DropRule.h"

#include "query/ResultRow.h"

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

std::optional<double> number(const QString& text) {
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok && std::isfinite(value) ? std::optional(value) : std::nullopt;
}

} // namespace

std::optional<QString> dropTooltip(int column, const QString& text, const journal::Reading& previous,
                                   double dropDb) {
    if (column < ResultRowLayout::OnuAccept || column > ResultRowLayout::OltSend)
        return std::nullopt;
    const auto now = number(text);
    const auto before = number(previous.values[size_t(column - ResultRowLayout::OnuAccept)]);
    if (!now || !before)
        return std::nullopt;
    // Readings have two decimals; the tolerance keeps -19.80 to -22.80 a fall of 3, not 2.9999….
    if (*before - *now < dropDb - 1e-9)
        return std::nullopt;
    const QString tip = u"上次 %1 (%2)"_s.arg(
        QString::number(*before, 'f', 2), previous.takenAt.toLocalTime().date().toString(u"yyyy-MM-dd"_s));
    // A colleague's reading, from the team's history, names who took it.
    return previous.takenBy.isEmpty() ? tip : tip + u" 查询人 "_s + previous.takenBy;
}
