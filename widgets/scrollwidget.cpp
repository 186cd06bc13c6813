#include "widgets/scrollwidget.h"

#include <QDebug>

void ScrollWidget::setPageSize(QSize pageSize, QSize totalSize)
{
    if (orientation() == Qt::Horizontal) {
        setPageStep(pageSize.width());
        setMaximum(totalSize.width() - pageStep());
        // Two spaces after the colon and one at the end; nospace() keeps the
        // stream from trimming that last one.
        qDebug().nospace() << "Scroll horiz: " << ' ' << pageStep() << ' ' << maximum() << ' ';
    } else {
        setPageStep(pageSize.height());
        setMaximum(totalSize.height() - pageStep());
    }
}
