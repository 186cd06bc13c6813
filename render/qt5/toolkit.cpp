#include "render/toolkit.h"

// Qt 5's reader decodes an image of any size.
void Toolkit::allowLargeImages()
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
