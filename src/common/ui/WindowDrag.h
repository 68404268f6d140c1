#pragma once

#include <QObject>
#include <QPoint>

class QWidget;

// Moves a frameless window when it is dragged by its own surface with the left button alone.
// Presses and moves over its child controls belong to those controls and do not drag.
class WindowDrag : public QObject {
    Q_OBJECT

public:
    explicit WindowDrag(QWidget* window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_window;
    QPoint m_press;              // pointer position in window coordinates at the last press
    bool m_surfacePress = false; // that press was on the window's own surface
};
