#pragma once

#include "query/XlsxExport.h"

#include <QList>
#include <QString>
#include <QStringList>

class QWidget;

// The export behind the main window's save button: asks for a file name, writes the workbook and
// reports the outcome in message boxes. headers and rows are the list as it stands at the click;
// marks colour the workbook; history, when given, fills the sheet "历史", ports the sheet
// "PON口汇总" after it.
void exportList(QWidget* parent, const QStringList& headers, const QList<QStringList>& rows,
                const SheetMarks& marks = {}, const QList<journal::Reading>& history = {},
                const QList<PonPort>& ports = {});
