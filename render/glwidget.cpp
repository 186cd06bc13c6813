#include <epoxy/gl.h>

#include "render/glwidget.h"
#include "render/checkglerror.h"
#include "render/imageloader.h"

#include <QColor>
#include <QDebug>
#include <QDir>
#include <QMessageBox>
#include <QRegion>
#if QT_VERSION_MAJOR >= 6
#include <QCoreApplication>
#include <QMoveEvent>
#include <QShowEvent>
#include <QOpenGLPixelTransferOptions>
#include <QOpenGLTexture>
#endif

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

const char *const imageFile = "fibre.bmp";
const char *const shaderFile = "test.frag";
const float initialThreshold = 0.4f;

// Set while the box refusing an old OpenGL is up. Its nested event loop may
// initialise and paint the view: nothing of OpenGL 2.0 may run then (the
// loader ends the process when a driver lacks an entry point), and one box
// is enough.
bool refusingOldOpenGL = false;

#if QT_VERSION_MAJOR >= 6
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
#endif

} // namespace

// The image is decoded while the base is made: Qt 5's QGLWidget loads the
// OpenGL driver then, which the decoding need not wait for.
GLWidget::GLWidget(QWidget *parent)
    : GLWidget(parent, ImageLoader(imageFile))
{
}

GLWidget::GLWidget(QWidget *parent, ImageLoader &&loading)
    : GLWidgetBase(parent),
      pixmap(QPixmap::fromImage(loading.take())),
      threshold(initialThreshold)
{
#if QT_VERSION_MAJOR >= 6
    // By default the toolkit empties its whole image-sized buffer (colour,
    // depth and stencil) before each frame that follows a composition; on
    // desktop OpenGL it does so with a full glClear. Every frame here
    // clears and draws all that is seen, and what comes into sight is drawn
    // before it shows (drawWhatComesIntoSight), so the buffer may keep its
    // old content.
    setUpdateBehavior(QOpenGLWidget::PartialUpdate);
#endif
    if (pixmap.isNull()) {
        qDebug().noquote() << QString("Cannot load the image \"%1\" in %2: the view draws no image")
                                  .arg(imageFile, QDir::currentPath());
    }
}

GLWidget::~GLWidget()
{
    // The shader member deletes its GL object in its own destructor, which
    // runs after this body: the context must be current by then.
    makeCurrent();
#if QT_VERSION_MAJOR >= 6
    delete texture;
#endif
}

QSize GLWidget::sizeHint() const
{
    return pixmap.size();
}

QSize GLWidget::minimumSizeHint() const
{
    return pixmap.size();
}

bool GLWidget::versionSupported(const char *version)
{
    int major = 0;
    int minor = 0;
    if (!version || std::sscanf(version, "%d.%d", &major, &minor) < 1)
        return false;
    return major > 1;
}

void GLWidget::scroll_horiz(int x)
{
    Q_UNUSED(x);
    repaintNow();
}

void GLWidget::scroll_vert(int y)
{
    Q_UNUSED(y);
    repaintNow();
}

void GLWidget::sett_terskel(int x)
{
    threshold = float(x / 100.0);
    repaintNow();
}

void GLWidget::repaintNow()
{
#if QT_VERSION_MAJOR >= 6
    // The toolkit composes the window when its update request arrives, and
    // turns a repaint() within a frame's time of the last composition into
    // such a request too. So the request is made and delivered here: one
    // composition, with whatever else of the window waits to be painted, and
    // one finished frame for every call.
    update();
    QCoreApplication::sendPostedEvents(window(), QEvent::UpdateRequest);
#else
    updateGL();
#endif
}

void GLWidget::initializeGL()
{
    if (refusingOldOpenGL)
        return;
    // No OpenGL 2.0 entry point may be called before this test passes.
    if (!versionSupported(reinterpret_cast<const char *>(glGetString(GL_VERSION)))) {
        refusingOldOpenGL = true;
        QMessageBox::critical(nullptr, "Varnok", "Need OpenGL version >= 2.0");
        std::exit(-1);
    }

    fragShader.load(shaderFile);
    checkGLError("glwidget.cpp", __LINE__);
    glEnable(GL_TEXTURE_2D);
    // No mipmaps: the view is never smaller than the image (its minimum
    // size), so the image is only ever drawn at one texel per pixel or
    // larger, and a smaller level is never sampled. Making them took a
    // quarter of the start-up at 8192 x 8192 and a third more texture memory.
#if QT_VERSION_MAJOR >= 6
    // Rows go up as they stand, so texture (0, 0) is the image's top-left
    // corner, as paintGL's quad expects; RGBA8 filtered linearly, as the
    // Qt 5 upload below. A null image has nothing to upload.
    delete texture;
    texture = nullptr;
    if (!pixmap.isNull()) {
        texture = uploadTexture(pixmap.toImage());
        texture->setMinMagFilters(QOpenGLTexture::Linear, QOpenGLTexture::Linear);
        texture->bind();
    }
#else
    // The toolkit's default upload flips the rows; without that flip texture
    // (0, 0) is the image's top-left corner, as paintGL's quad expects.
    bindTexture(pixmap, GL_TEXTURE_2D, GL_RGBA8, QGLContext::LinearFilteringBindOption);
#endif
    fragShader.use();

    const int tekstur = fragShader.uniformLocation("Tekstur");
    checkGLError("glwidget.cpp", __LINE__);
    glUniform1i(tekstur, 0);
    checkGLError("glwidget.cpp", __LINE__);
    const int terskel = fragShader.uniformLocation("Terskel");
    glUniform1f(terskel, initialThreshold);
    if (tekstur == -1)
        qDebug().noquote() << QString("The shader \"%1\" has no active uniform \"Tekstur\": the image cannot reach the shader").arg(shaderFile);
    if (terskel == -1)
        qDebug().noquote() << QString("The shader \"%1\" has no active uniform \"Terskel\": the slider cannot reach the shader").arg(shaderFile);

    const QColor clear(Qt::darkGray);
#if QT_VERSION_MAJOR >= 6
    glClearColor(clear.redF(), clear.greenF(), clear.blueF(), clear.alphaF());
#else
    qglClearColor(clear);
#endif
}

void GLWidget::resizeGL(int w, int h)
{
    glViewport(0, 0, w, h);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, w, h, 0, 4.0, 15.0);
    glMatrixMode(GL_MODELVIEW);
    checkGLError("glwidget.cpp", __LINE__);
    projectionSize = QSize(w, h);
    emit resized(QSize(width(), height()), pixmap.size());
}

void GLWidget::paintGL()
{
    if (refusingOldOpenGL)
        return;
#if QT_VERSION_MAJOR >= 6
    // The toolkit draws in this context too and does not put back what it
    // found: Qt 6.8 leaves no program current and blending on at each frame
    // (6.4 left the view's program and blending off), and making the
    // widget's buffer anew binds a texture of its own. So every frame
    // selects the program and the image on unit 0, where "Tekstur" samples,
    // and turns blending off: the quad's colours replace what was there, as
    // on Qt 5, whatever blend function the toolkit left. The uniforms are
    // the program's own and keep their values. Qt 5 leaves the context to
    // the view: there initializeGL's selection holds for its whole life.
    fragShader.use();
    glActiveTexture(GL_TEXTURE0);
    if (texture)
        texture->bind();
    glDisable(GL_BLEND);
#endif
    // Only what can be seen is cleared and shaded: the view is as large as
    // the image, and most of a micrograph lies outside the scroll area.
    const QRect seen = seenPart();
    const QRect scissor = drawablePart(seen);
    glScissor(scissor.x(), scissor.y(), scissor.width(), scissor.height());
    glEnable(GL_SCISSOR_TEST);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    glTranslatef(0, 0, -10);
    checkGLError("glwidget.cpp", __LINE__);

    glUniform1f(fragShader.uniformLocation("Terskel"), threshold);

    // The quad spans the projection, so the whole image covers the whole
    // view at any screen scale.
    const float w = float(projectionSize.width());
    const float h = float(projectionSize.height());
    glBegin(GL_POLYGON);
    glTexCoord2d(0, 0);
    glVertex3f(0, 0, 0);
    glTexCoord2d(0, 1);
    glVertex3f(0, h, 0);
    glTexCoord2d(1, 1);
    glVertex3f(w, h, 0);
    glTexCoord2d(1, 0);
    glVertex3f(w, 0, 0);
    glEnd();
    // The toolkit clears and copies in this context too, which a scissor
    // left on would clip.
    glDisable(GL_SCISSOR_TEST);
    checkGLError("glwidget.cpp", __LINE__);
#if QT_VERSION_MAJOR >= 6
    drawnPart = seen;
#endif
}

QRect GLWidget::seenPart() const
{
    // Clipped by the scroll area's viewport and every other ancestor; what
    // other windows cover still counts, as they may move at any time.
    return visibleRegion().boundingRect();
}

QRect GLWidget::drawablePart(const QRect &part) const
{
#if QT_VERSION_MAJOR >= 6
    // The toolkit sets the viewport to its buffer's device pixels before
    // each paint; resizeGL had logical ones.
    const qreal ratio = devicePixelRatioF();
    const QSize drawable(int(width() * ratio), int(height() * ratio));
#else
    // resizeGL had the drawable's own pixels.
    const QSize drawable = projectionSize;
#endif
    if (part.isEmpty() || width() <= 0 || height() <= 0)
        return QRect();
    const qreal sx = qreal(drawable.width()) / width();
    const qreal sy = qreal(drawable.height()) / height();
    const int left = int(std::floor(part.left() * sx));
    const int right = int(std::ceil((part.right() + 1) * sx));
    const int top = int(std::floor(part.top() * sy));
    const int bottom = int(std::ceil((part.bottom() + 1) * sy));
    const QRect flipped(left, drawable.height() - bottom, right - left, bottom - top);
    return flipped & QRect(QPoint(0, 0), drawable);
}

#if QT_VERSION_MAJOR >= 6
// Qt 5's view is a native window, and the window system asks it to paint
// what comes into sight. Qt 6 composes the last frame of the view's buffer
// wherever the view now stands, so a scroll, or a window that grows, would
// show parts the scissor left undrawn: they are drawn before the toolkit
// composes the window again.
void GLWidget::moveEvent(QMoveEvent *event)
{
    GLWidgetBase::moveEvent(event);
    drawWhatComesIntoSight();
}

void GLWidget::showEvent(QShowEvent *event)
{
    GLWidgetBase::showEvent(event);
    // The ancestors are known once the view is shown (the scroll area
    // takes it after it is made); installing twice keeps one filter.
    for (QWidget *ancestor = parentWidget(); ancestor; ancestor = ancestor->parentWidget())
        ancestor->installEventFilter(this);
}

bool GLWidget::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Resize || event->type() == QEvent::Move || event->type() == QEvent::Show)
        drawWhatComesIntoSight();
    return GLWidgetBase::eventFilter(watched, event);
}

void GLWidget::drawWhatComesIntoSight()
{
    const QRect seen = seenPart();
    if (!seen.isEmpty() && !drawnPart.contains(seen))
        update();
}
#endif
