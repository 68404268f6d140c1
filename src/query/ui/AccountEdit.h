#pragma once

#include <QPlainTextEdit>

// The account box: takes plain text only, from any paste or drop, and passes Tab on to the next
// control as a multi-line box of the original platform does.
class AccountEdit : public QPlainTextEdit {
public:
    explicit AccountEdit(QWidget* parent = nullptr);

    // The text as the run reads it: every line break the user typed or pasted is CR LF.
    QString accountText() const;

protected:
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;
};
