#include "query/ui/AccountEdit.h"

#include <QMimeData>

AccountEdit::AccountEdit(QWidget* parent) : QPlainTextEdit(parent) {
    setTabChangesFocus(true);
}

// Qt's own handling reads the data without looking whether there is any: with nothing owning the
// clipboard that ends the program. A file list also offers its addresses as text; only real text
// counts.
bool AccountEdit::canInsertFromMimeData(const QMimeData* source) const {
    return source && source->hasFormat(QStringLiteral("text/plain"));
}

void AccountEdit::insertFromMimeData(const QMimeData* source) {
    if (!canInsertFromMimeData(source))
        return;
    const QString text = source->text();
    if (!text.isEmpty())
        insertPlainText(text);
}
