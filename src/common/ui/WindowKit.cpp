#include "common/ui/WindowKit.h"

#include "common/ui/UpdateBackdrop.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>

void centreOnScreen(QWidget* window) {
    const QScreen* screen = window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen)
        window->move(screen->availableGeometry().center() - window->rect().center());
}

QLabel* makeLabel(QWidget* parent, const QString& name, const QString& text, const QRect& geometry) {
    auto* label = named(new QLabel(text, parent), name);
    label->setGeometry(geometry);
    return label;
}

void setTextColour(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

CloseSpot::CloseSpot(QLabel* spot) : QObject(spot), m_spot(spot) {
    spot->setCursor(handPointer());
    spot->installEventFilter(this);
}

bool CloseSpot::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_spot && event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && m_spot->rect().contains(mouse->position().toPoint())) {
            emit clicked();
            return true;
        }
    }
    return false;
}
