#include <epoxy/gl.h>

#include "toolkitview.h"
#include "render/image/textureupload.h"

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

void ToolkitView::uploadImage(const QPixmap &pixmap, const TextureUpload::Progress &progress)
{
    // The toolkit's default upload flips the rows; without that flip texture
    // (0, 0) is the image's top-left corner, as the view's quad expects.
    // An opaque colour pixmap goes up as it stands. No image of it may be
    // held meanwhile: the toolkit would then copy it whole before its upload.
    const bool grey = TextureUpload::isGrey(pixmap.toImage().format());
    if (!pixmap.hasAlphaChannel() && !grey) {
        bindTexture(pixmap, GL_TEXTURE_2D, GL_RGBA8, QGLContext::LinearFilteringBindOption);
        return;
    }
    // One with alpha the toolkit would first convert whole, to straight
    // alpha: a second image-sized buffer; a grey one it would make four
    // times its size. The same texels go up a band at a time instead, grey
    // ones as one channel.
    ownTexture = TextureUpload::newTexture(pixmap.toImage(), progress);
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
