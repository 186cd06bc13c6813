#include "gridscrollarea.h"
#include "render/pixelgrid.h"

#include <QEvent>
#include <QGuiApplication>
#include <QWindow>

GridScrollArea::GridScrollArea(QWidget *parent)
    : QScrollArea(parent)
{
}

bool GridScrollArea::event(QEvent *event)
{
    // The grid follows the area's place in the window and the window's
    // scale.
    const bool handled = QScrollArea::event(event);
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Show:
    case QEvent::ScreenChangeInternal:
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
    case QEvent::DevicePixelRatioChange:
#endif
        snapViewport();
        break;
    default:
        break;
    }
    return handled;
}

bool GridScrollArea::viewportEvent(QEvent *event)
{
    // The base lays the viewport out anew on a resize, and whenever the
    // scroll bars come or go, which may follow a resize of the view.
    const bool handled = QScrollArea::viewportEvent(event);
    if (event->type() == QEvent::Resize || event->type() == QEvent::Move)
        snapViewport();
    return handled;
}

void GridScrollArea::snapViewport()
{
    // The scale of the window's own surface: a compositor gives each surface
    // its own, which may not yet be the screen's.
    const QWindow *own = window()->windowHandle();
    const int step = PixelGrid::step(own ? own->devicePixelRatio() : devicePixelRatioF());
    // Compositors put the window's origin on a whole device pixel: on X11
    // its client area's, on Wayland its surface's, which a decoration drawn
    // by the toolkit lies inside.
    QPoint origin = mapTo(window(), QPoint(0, 0));
    if (own && QGuiApplication::platformName().startsWith("wayland"))
        origin += QPoint(own->frameMargins().left(), own->frameMargins().top());
    const QRect natural = viewport()->geometry().marginsAdded(viewportMargins());
    const QMargins margins = PixelGrid::inside(natural.translated(origin), step);
    if (margins != viewportMargins())
        setViewportMargins(margins);
}
