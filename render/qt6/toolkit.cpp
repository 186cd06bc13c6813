#include "render/toolkit.h"
#include "gridscrollarea.h"

#include <QImageReader>

#include <algorithm>
#include <climits>

void Toolkit::limitImages(qint64 bytes)
{
    // Qt 6 refuses by default to decode images of more than 128 MB, which a
    // micrograph of 8192 x 8192 pixels already is: the limit is what the
    // process can have instead, behind the view's own budget, which says
    // more.
    QImageReader::setAllocationLimit(bytes < 0 ? 0 : int(std::clamp<qint64>(bytes >> 20, 1, INT_MAX)));
}

bool Toolkit::readerRefuses(const QSize &size, QImage::Format format)
{
    // The reader applies its limit when it makes the image, not when it is
    // handed one.
    const qint64 limit = qint64(QImageReader::allocationLimit()) << 20;
    const qint64 depth = QImage::toPixelFormat(format).bitsPerPixel();
    return limit > 0 && (size.width() * depth + 31) / 32 * 4 * size.height() > limit;
}

// Qt 6 shows a native child window on Wayland as a subsurface.
bool Toolkit::viewIsNativeWindow()
{
    return false;
}

// The view's drawable is kept over the viewport, which the scroll area
// keeps on whole device pixels.
QScrollArea *Toolkit::newScrollArea()
{
    return new GridScrollArea(nullptr);
}
