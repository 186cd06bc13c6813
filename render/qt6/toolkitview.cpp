#include <epoxy/gl.h>

#include "toolkitview.h"
#include "render/shader.h"

#include <QCoreApplication>
#include <QEvent>
#include <QImage>
#include <QOpenGLPixelTransferOptions>
#include <QOpenGLTexture>
#include <QPixmap>
#include <QRegion>

namespace {

// An opaque image, what a micrograph decodes to, goes up from its own
// pixels: QOpenGLTexture's upload from a QImage would first copy every
// image into RGBA8888, a second image-sized buffer (256 MiB at 8192 x 8192)
// and a pass over it. Other layouts are converted as that upload would.
// Texels come out as its: RGBA8, alpha not premultiplied, one level, rows
// as they stand.
QOpenGLTexture *uploadTexture(const QImage &decoded)
{
    QImage image = decoded;
    // 0xffRRGGBB words: BGRA read as reversed 8-bit components.
    QOpenGLTexture::PixelFormat format = QOpenGLTexture::BGRA;
    QOpenGLTexture::PixelType type = QOpenGLTexture::UInt32_RGBA8_Rev;
    if (image.format() != QImage::Format_RGB32) {
        image.convertTo(QImage::Format_RGBA8888);
        format = QOpenGLTexture::RGBA;
        type = QOpenGLTexture::UInt8;
    }
    auto *texture = new QOpenGLTexture(QOpenGLTexture::Target2D);
    texture->setFormat(QOpenGLTexture::RGBA8_UNorm);
    texture->setSize(image.width(), image.height());
    texture->setMipLevels(1);
    texture->allocateStorage(format, type);
    QOpenGLPixelTransferOptions rows;
    rows.setAlignment(4);
    rows.setRowLength(int(image.bytesPerLine() / 4));
    texture->setData(0, format, type, image.constBits(), &rows);
    return texture;
}

// The Qt 5 build draws into a native window, which X11 lets grow to this.
const int largestWindow = 32767;

} // namespace

ToolkitView::ToolkitView(QWidget *parent)
    : QOpenGLWidget(parent)
{
    // By default the toolkit empties its whole image-sized buffer (colour,
    // depth and stencil) before each frame that follows a composition; on
    // desktop OpenGL it does so with a full glClear. Every frame here
    // clears and draws all that is seen, and what comes into sight is drawn
    // before it shows (drawWhatComesIntoSight), so the buffer may keep its
    // old content.
    setUpdateBehavior(QOpenGLWidget::PartialUpdate);
}

ToolkitView::~ToolkitView()
{
    makeCurrent();
    delete texture;
}

void ToolkitView::repaintNow()
{
    // The toolkit composes the window when its update request arrives, and
    // turns a repaint() within a frame's time of the last composition into
    // such a request too. So the request is made and delivered here: one
    // composition, with whatever else of the window waits to be painted, and
    // one finished frame for every call.
    update();
    QCoreApplication::sendPostedEvents(window(), QEvent::UpdateRequest);
}

void ToolkitView::uploadImage(const QPixmap &pixmap)
{
    // Rows go up as they stand, so texture (0, 0) is the image's top-left
    // corner, as the view's quad expects. A null image has nothing to upload.
    delete texture;
    texture = nullptr;
    if (pixmap.isNull())
        return;
    texture = uploadTexture(pixmap.toImage());
    texture->setMinMagFilters(QOpenGLTexture::Linear, QOpenGLTexture::Linear);
    texture->bind();
}

void ToolkitView::restoreFrameState(Shader &shader)
{
    // The toolkit draws in this context too and does not put back what it
    // found: Qt 6.8 leaves no program current and blending on at each frame
    // (6.4 left the view's program and blending off), and making the
    // widget's buffer anew binds a texture of its own. So every frame
    // selects the program and the image on unit 0, where "Tekstur" samples,
    // and turns blending off: the quad's colours replace what was there,
    // whatever blend function the toolkit left. The uniforms are the
    // program's own and keep their values.
    shader.use();
    glActiveTexture(GL_TEXTURE0);
    if (texture)
        texture->bind();
    glDisable(GL_BLEND);
}

QSize ToolkitView::drawableSize(const QSize &) const
{
    // The toolkit sets the viewport to its buffer's device pixels before
    // each paint.
    const qreal ratio = devicePixelRatioF();
    return QSize(int(width() * ratio), int(height() * ratio));
}

int ToolkitView::largestDrawable() const
{
    // The buffer is a texture with a renderbuffer for depth and stencil.
    GLint texture = 0;
    GLint renderbuffer = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &texture);
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &renderbuffer);
    return qMin(texture, renderbuffer);
}

QString ToolkitView::largestDrawableHolder() const
{
    return "of the OpenGL driver's off-screen buffers, which the Qt 6 build draws the view into";
}

QString ToolkitView::whatWorks(const QSize &image) const
{
    const int side = qMax(image.width(), image.height());
    QString works;
    if (side * devicePixelRatioF() <= largestWindow)
        works = "the Qt 5 build of Ombrel GL";
    else if (side <= largestWindow)
        works = "the Qt 5 build of Ombrel GL at a screen scale of 1 (QT_SCALE_FACTOR=1)";
    if (side <= largestDrawable())
        works += QString(works.isEmpty() ? "" : ", or ") + "a screen scale of 1 (QT_SCALE_FACTOR=1)";
    return works.isEmpty() ? QString("a smaller image: no window holds more than %1 pixels a side").arg(largestWindow)
                           : works;
}

void ToolkitView::frameDrawn(const QRect &seen)
{
    drawnPart = seen;
}

// Qt 5's view is a native window, and the window system asks it to paint
// what comes into sight. Qt 6 composes the last frame of the view's buffer
// wherever the view now stands, so a scroll, or a window that grows, would
// show parts the scissor left undrawn: they are drawn before the toolkit
// composes the window again.
void ToolkitView::moveEvent(QMoveEvent *event)
{
    QOpenGLWidget::moveEvent(event);
    drawWhatComesIntoSight();
}

void ToolkitView::showEvent(QShowEvent *event)
{
    QOpenGLWidget::showEvent(event);
    // The ancestors are known once the view is shown (the scroll area
    // takes it after it is made); installing twice keeps one filter.
    for (QWidget *ancestor = parentWidget(); ancestor; ancestor = ancestor->parentWidget())
        ancestor->installEventFilter(this);
}

bool ToolkitView::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Resize || event->type() == QEvent::Move || event->type() == QEvent::Show)
        drawWhatComesIntoSight();
    return QOpenGLWidget::eventFilter(watched, event);
}

void ToolkitView::drawWhatComesIntoSight()
{
    // What the view's frames clear and shade: all that is seen.
    const QRect seen = visibleRegion().boundingRect();
    if (!seen.isEmpty() && !drawnPart.contains(seen))
        update();
}
