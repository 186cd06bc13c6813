#ifndef SCROLLWIDGET_H
#define SCROLLWIDGET_H

#include <QScrollBar>
#include <QSize>

// A scroll bar whose page step and range follow a page size and a content
// size, along its own orientation.
class ScrollWidget : public QScrollBar
{
    Q_OBJECT

public:
    using QScrollBar::QScrollBar;

public slots:
    void setPageSize(QSize pageSize, QSize totalSize);
};

#endif
