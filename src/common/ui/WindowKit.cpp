#include "common/ui/WindowKit.h"

#include "common/ui/UpdateBackdrop.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QWindow>

#include <algorithm>

void centreOnScreen(QWidget* window) {
    const QScreen* screen = window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen)
        window->move(screen->availableGeometry().center() - window->rect().center());
}

ScreenFit fitWithin(QSize size, QMargins frame, QSize minimum, QSize floor, const QRect& available) {
    const QSize room = available.size().shrunkBy(frame);
    ScreenFit fit;
    fit.minimum = minimum.boundedTo(room).expandedTo(floor.boundedTo(minimum));
    fit.size = size.boundedTo(room).expandedTo(fit.minimum);
    const QSize outer = fit.size.grownBy(frame);
    fit.framePosition = available.topLeft() + QPoint(std::max(0, (available.width() - outer.width()) / 2),
                                                     std::max(0, (available.height() - outer.height()) / 2));
    return fit;
}

void fitOnScreen(QWidget* window, QSize floor) {
    const QScreen* screen = window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen || window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))
        return;
    const QWindow* handle = window->windowHandle();
    const ScreenFit fit = fitWithin(window->size(), handle ? handle->frameMargins() : QMargins(),
                                    window->minimumSize(), floor, screen->availableGeometry());
    window->setMinimumSize(fit.minimum);
    window->resize(fit.size);
    window->move(fit.framePosition);
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
    // A window smaller than the one the places were taken at (on a small screen) moves and
    // shrinks them the other way.
    const int dx = m_window->width() - m_base.width();
    const int dy = m_window->height() - m_base.height();
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
