#pragma once

#include "journal/JournalTypes.h"
#include "query/PonSummary.h"
#include "query/Thresholds.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

struct ExportResult {
    bool ok = false;
    QString error; // what went wrong, for the failure message; empty when ok
};

// Colours on top of the values, which stay as they are.
struct SheetMarks {
    QList<bool> failedRows;               // by list row; these get a fill across the row
    std::optional<Thresholds> thresholds; // weak receive readings get their colours
    QStringList comments;                 // by list row: a note on the account cell; empty for none
};

// Writes one sheet: the headers in row 1, then one row per list row, all cells as text except
// plain decimal numbers in the four power columns (2 to 5), which become numbers; empty cells stay
// blank. With history, a second sheet "历史" follows: account (text), time (a date-time cell) and
// the four readings (numbers where they are plain decimals), one row per reading in the order
// given (newest first, as the journal gives them); readings beyond the sheet's last row are left
// out. With ports, a sheet "PON口汇总" follows: the columns of PonSummary::headers(), the counts as
// numbers, one row per port in the order given. The workbook goes to a temporary file next to path and is
// moved over path only once it is complete, so a failed save leaves an existing file as it was.
ExportResult writeXlsx(const QString& path, const QStringList& headers, const QList<QStringList>& rows,
                       const SheetMarks& marks = {}, const QList<journal::Reading>& history = {},
                       const QList<PonPort>& ports = {});

// The history sheet's name and its header texts.
QString historySheetName(); // "历史"
QStringList historyHeaders();

// name unchanged when it ends in ".xlsx" in any letter case, otherwise name + ".xlsx".
QString withXlsxExtension(const QString& name);
