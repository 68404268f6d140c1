#include "query/ui/AccountEdit.h"

#include <QMimeData>

using namespace Qt::StringLiterals;

AccountEdit::AccountEdit(QWidget* parent) : QPlainTextEdit(parent) {
    setTabChangesFocus(true);
}

QString AccountEdit::accountText() const {
    QString text = toPlainText();
    text.replace(u"\r\n"_s, u"\n"_s);
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    text.replace(QLatin1Char('\n'), u"\r\n"_s);
    return text;
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
