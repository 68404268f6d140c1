#pragma once

#include <QList>
#include <QMargins>
#include <QObject>
#include <QRect>
#include <QSize>
#include <QString>

#include <functional>

class QColor;
class QLabel;
class QRect;
class QWidget;

// Small pieces every window of both programs is built from.

// Places the window in the middle of the free area of its screen (the primary one before it has
// been shown).
void centreOnScreen(QWidget* window);

// Where a window goes on a screen whose free area is `available`: its size (the client area, the
// frame around it) as large as asked but never larger than the area, and centred on it. A minimum
// size the area cannot hold gives way, down to `floor`; only a window held at the floor may be
// larger than the area, and then its top left corner (the title bar) stays in it.
struct ScreenFit {
    QPoint framePosition; // what move() takes for a window
    QSize size;           // client area
    QSize minimum;
};
ScreenFit fitWithin(QSize size, QMargins frame, QSize minimum, QSize floor, const QRect& available);

// Applies fitWithin() to a window about to be shown, on its screen, with the frame as far as the
// platform knows it by then (Windows does at once; an X11 window manager only once it has framed
// the window). A maximised or full-screen window is left to the platform.
void fitOnScreen(QWidget* window, QSize floor);

// A label with its control name, at a fixed place: the windows have no layouts.
QLabel* makeLabel(QWidget* parent, const QString& name, const QString& text, const QRect& geometry);

// The colour of a control's text, through its palette.
void setTextColour(QWidget* widget, const QColor& colour);

template <typename T> T* named(T* widget, const QString& name) {
    widget->setObjectName(name);
    return widget;
}

// Lets a window of fixed-place controls grow: each control added keeps its distance to the window
// edges it sits by. Edges named are those of the control that move with the window's right and
// bottom edges: Qt::RightEdge widens it, Qt::LeftEdge | Qt::RightEdge moves it right, and so on.
// Places are taken from the controls as they are when added, at the window's present size.
class EdgeAnchors : public QObject {
    Q_OBJECT

public:
    explicit EdgeAnchors(QWidget* window);

    void add(QWidget* control, Qt::Edges movingEdges);
    // Runs after every placement, for what follows another control rather than an edge.
    void setAfterPlacing(std::function<void()> after) { m_after = std::move(after); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Anchor {
        QWidget* control;
        QRect base;
        Qt::Edges moving;
    };
    void place();

    QWidget* m_window;
    QSize m_base;
    QList<Anchor> m_anchors;
    std::function<void()> m_after;
};

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
