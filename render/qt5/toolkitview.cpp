#include <epoxy/gl.h>

#include "toolkitview.h"

#include <QPixmap>

namespace {

// X11 keeps window sizes and places in 16-bit signed numbers: the view's
// native window can be no larger than this, whatever the driver allows.
const int largestWindow = 32767;

} // namespace

ToolkitView::ToolkitView(QWidget *parent)
    : QGLWidget(parent)
{
}

void ToolkitView::repaintNow()
{
    updateGL();
}

void ToolkitView::uploadImage(const QPixmap &pixmap)
{
    // The toolkit's default upload flips the rows; without that flip texture
    // (0, 0) is the image's top-left corner, as the view's quad expects.
    bindTexture(pixmap, GL_TEXTURE_2D, GL_RGBA8, QGLContext::LinearFilteringBindOption);
}

void ToolkitView::restoreFrameState(Shader &)
{
}

QSize ToolkitView::drawableSize(const QSize &resized) const
{
    return resized;
}

int ToolkitView::largestDrawable() const
{
    return largestWindow;
}

QString ToolkitView::largestDrawableHolder() const
{
    return "that X11 windows allow";
}

QString ToolkitView::whatWorks(const QSize &image) const
{
    if (qMax(image.width(), image.height()) <= largestWindow)
        return "a screen scale of 1 (QT_SCALE_FACTOR=1)";
    return QString("a smaller image: no window holds more than %1 pixels a side").arg(largestWindow);
}

void ToolkitView::frameDrawn(const QRect &)
{
}
