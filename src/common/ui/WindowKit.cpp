#include "common/ui/WindowKit.h"

#include "common/ui/UpdateBackdrop.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>

#include <algorithm>

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

EdgeAnchors::EdgeAnchors(QWidget* window) : QObject(window), m_window(window), m_base(window->size()) {
    window->installEventFilter(this);
}

void EdgeAnchors::add(QWidget* control, Qt::Edges movingEdges) {
    m_anchors.append({control, control->geometry(), movingEdges});
}

bool EdgeAnchors::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_window && event->type() == QEvent::Resize)
        place();
    return false;
}

void EdgeAnchors::place() {
    // A window smaller than the one the places were taken at keeps them.
    const int dx = std::max(0, m_window->width() - m_base.width());
    const int dy = std::max(0, m_window->height() - m_base.height());
    for (const Anchor& anchor : std::as_const(m_anchors)) {
        QRect r = anchor.base;
        r.setLeft(r.left() + (anchor.moving & Qt::LeftEdge ? dx : 0));
        r.setRight(r.right() + (anchor.moving & Qt::RightEdge ? dx : 0));
        r.setTop(r.top() + (anchor.moving & Qt::TopEdge ? dy : 0));
        r.setBottom(r.bottom() + (anchor.moving & Qt::BottomEdge ? dy : 0));
        anchor.control->setGeometry(r);
    }
    if (m_after)
        m_after();
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
