#include "render/seenpart.h"

#include <QWidget>

QRect seenPart(const QWidget *widget)
{
    // QWidget::visibleRegion() would do but that it leaves out the widget's
    // opaque children, the Qt 6 view's own drawable among them.
    if (!widget->isVisible())
        return QRect();
    QRect part = widget->rect();
    QPoint offset(0, 0);
    for (const QWidget *w = widget; !w->isWindow(); w = w->parentWidget()) {
        offset += w->pos();
        part = part.translated(w->pos()) & w->parentWidget()->rect();
    }
    return part.translated(-offset);
}
