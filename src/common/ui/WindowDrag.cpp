#include "common/ui/WindowDrag.h"

#include <QMouseEvent>
#include <QWidget>

WindowDrag::WindowDrag(QWidget* window) : QObject(window), m_window(window) {
    window->installEventFilter(this);
}

bool WindowDrag::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_window)
        return false;
    if (event->type() == QEvent::MouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint at = mouse->position().toPoint();
        // Presses a child control ignored reach the window too; they must not start a drag.
        m_surfacePress = m_window->childAt(at) == nullptr;
        if (m_surfacePress)
            m_press = at;
    } else if (event->type() == QEvent::MouseMove) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (m_surfacePress && mouse->buttons() == Qt::LeftButton)
            m_window->move(m_window->pos() + (mouse->position().toPoint() - m_press));
    }
    return false;
}
