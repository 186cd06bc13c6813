#include "render/toolkit.h"

#include <QCoreApplication>
#include <QScrollArea>

// Qt 5's reader has no limit of its own; the view's memory budget stands
// before it.
void Toolkit::limitImages(qint64)
{
}

bool Toolkit::readerRefuses(const QSize &, QImage::Format)
{
    return false;
}

// QGLWidget is always a native window.
bool Toolkit::viewIsNativeWindow()
{
    return true;
}

QScrollArea *Toolkit::newScrollArea()
{
    auto *area = new QScrollArea(nullptr);
    // The view's native window makes its ancestors, and by default their
    // siblings, native too. On a scaled screen each native window is placed
    // by rounding its own scaled place, and nested ones add their roundings
    // up, while the toolkit copies what it painted of them from places it
    // rounds once: at 150% a row and a column between the frame and the view
    // were never painted, and showed black. The viewport, the one native
    // window the view needs around it for clipping, is placed in the
    // window's own.
    QCoreApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
    area->viewport()->setAttribute(Qt::WA_DontCreateNativeAncestors);
    area->viewport()->setAttribute(Qt::WA_NativeWindow);
    return area;
}
