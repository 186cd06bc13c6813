#ifndef PIXELGRID_H
#define PIXELGRID_H

#include <QMargins>
#include <QRect>

// The logical pixels that fall on whole device pixels at a screen's scale.
// A drawable placed or sized between device pixels is rounded by the
// toolkit, which spreads what it draws over the rounded buffer, and by the
// compositor, which scales that buffer again into the box it rounds.
namespace PixelGrid {

// The smallest logical step whose product with the scale is a whole number
// of device pixels. Compositors give scales in 120ths (1.25 is 150/120):
// 4 at 1.25 and 1.75, 2 at 1.5, 1 at every whole scale.
int step(qreal scale);

// How far each edge of a rectangle, in logical pixels from an origin on
// whole device pixels, moves inwards to the nearest multiple of the step.
QMargins inside(const QRect &rect, int step);

} // namespace PixelGrid

#endif
