#include "render/toolkit.h"

#include <QImageReader>

void Toolkit::allowLargeImages()
{
    // Qt 6 refuses to decode images of more than 128 MB, which a micrograph
    // of 8192 x 8192 pixels already is; Qt 5 has no such limit. This one
    // lets through everything a texture can hold (16384 pixels a side).
    if (QImageReader::allocationLimit() < 1024)
        QImageReader::setAllocationLimit(1024);
}

bool Toolkit::readerRefuses(const QSize &size, QImage::Format format)
{
    // The reader applies its limit when it makes the image, not when it is
    // handed one.
    const qint64 limit = qint64(QImageReader::allocationLimit()) << 20;
    const qint64 depth = QImage::toPixelFormat(format).bitsPerPixel();
    return limit > 0 && (size.width() * depth + 31) / 32 * 4 * size.height() > limit;
}

// QOpenGLWidget draws into a buffer that the toolkit composes into the
// window, and so on Wayland too.
bool Toolkit::viewIsNativeWindow()
{
    return false;
}
