#ifndef SEENPART_H
#define SEENPART_H

#include <QRect>

class QWidget;

// The part of a widget that its ancestors leave in sight, in its own
// logical pixels: in a scroll area usually a window's worth of a larger
// widget. Other windows over it do not count (they may move at any time),
// nor do its own children. Empty while the widget or an ancestor is hidden.
QRect seenPart(const QWidget *widget);

#endif
