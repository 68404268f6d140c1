#pragma once

#include <QObject>
#include <QString>

class QColor;
class QLabel;
class QRect;
class QWidget;

// Small pieces every window of both programs is built from.

// Places the window in the middle of the free area of its screen (the primary one before it has
// been shown).
void centreOnScreen(QWidget* window);

// A label with its control name, at a fixed place: the windows have no layouts.
QLabel* makeLabel(QWidget* parent, const QString& name, const QString& text, const QRect& geometry);

// The colour of a control's text, through its palette.
void setTextColour(QWidget* widget, const QColor& colour);

template <typename T> T* named(T* widget, const QString& name) {
    widget->setObjectName(name);
    return widget;
}

// Makes a label the close spot of a frameless window: the pointing hand over it, and clicked()
// for a left click released over the spot it was pressed on.
class CloseSpot : public QObject {
    Q_OBJECT

public:
    explicit CloseSpot(QLabel* spot);

signals:
    void clicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* m_spot;
};
