#include <epoxy/gl.h>

#include "toolkitview.h"
#include "render/textureupload.h"

#include <QImage>
#include <QPixmap>

namespace {

// The view draws without depth or stencil: a window's buffers need not
// carry them, at twice the colour buffer's video memory.
QGLFormat colourOnly()
{
    QGLFormat format = QGLFormat::defaultFormat();
    format.setDepth(false);
    format.setStencil(false);
    return format;
}

} // namespace

ToolkitView::ToolkitView(QWidget *parent)
    : QGLWidget(colourOnly(), parent)
{
}

void ToolkitView::repaintNow()
{
    updateGL();
}

ToolkitView::~ToolkitView()
{
    if (ownTexture) {
        makeCurrent();
        glDeleteTextures(1, &ownTexture);
    }
}

void ToolkitView::uploadImage(const QPixmap &pixmap)
{
    // The toolkit's default upload flips the rows; without that flip texture
    // (0, 0) is the image's top-left corner, as the view's quad expects.
    // An opaque pixmap goes up as it stands. No image of it may be held
    // meanwhile: the toolkit would then copy it whole before its upload.
    if (!pixmap.hasAlphaChannel()) {
        bindTexture(pixmap, GL_TEXTURE_2D, GL_RGBA8, QGLContext::LinearFilteringBindOption);
        return;
    }
    // One with alpha the toolkit would first convert whole, to straight
    // alpha: a second image-sized buffer. The same texels go up a band at a
    // time instead.
    const QImage image = pixmap.toImage();
    glGenTextures(1, &ownTexture);
    glBindTexture(GL_TEXTURE_2D, ownTexture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, image.width(), image.height(), 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    TextureUpload::write(image, image.rect(), QPoint(0, 0));
}

QRect ToolkitView::drawablePart() const
{
    return rect();
}

QSize ToolkitView::drawableSize() const
{
    // As the toolkit sizes the native window: the logical size scaled and
    // rounded.
    return size() * devicePixelRatioF();
}

QString ToolkitView::whatWorks(const QSize &image, int largest) const
{
    // The Qt 6 build draws into what the window shows, whatever the image.
    QString works = "the Qt 6 build of Ombrel GL";
    if (qMax(image.width(), image.height()) <= largest && devicePixelRatioF() > 1)
        works += ", or a screen scale of 1 (QT_SCALE_FACTOR=1)";
    return works;
}
