#pragma once

#include "journal/JournalTypes.h"

#include <QString>

#include <optional>

// Whether a power cell of the list (columns 2 to 5) fell by at least dropDb against the same
// reading of the account's previous inspection. When it did, the cell's tooltip names the
// previous value and its date: "上次 -19.80 (2026-11-02)". Nothing for other columns, or when
// either value is not a number.
std::optional<QString> dropTooltip(int column, const QString& text, const journal::Reading& previous,
                                   double dropDb);
