#include <epoxy/gl.h>

#include "render/glwidget.h"
#include "render/checkglerror.h"
#include "render/imageloader.h"

#include <QColor>
#include <QDebug>
#include <QDir>
#include <QMessageBox>
#include <QRegion>

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

} // namespace

// The image is decoded while the base is made: Qt 5's QGLWidget loads the
// OpenGL driver then, which the decoding need not wait for.
GLWidget::GLWidget(QWidget *parent)
    : GLWidget(parent, ImageLoader(imageFile))
{
}

GLWidget::GLWidget(QWidget *parent, ImageLoader &&loading)
    : ToolkitView(parent),
      pixmap(QPixmap::fromImage(loading.take())),
      threshold(initialThreshold)
{
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
    tiles.release();
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
    GLint viewport[2] = {0, 0};
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, viewport);
    largestViewport = QSize(viewport[0], viewport[1]);
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largestTexture);
    if (qMax(pixmap.width(), pixmap.height()) <= largestTexture)
        uploadImage(pixmap);
    else
        tiles.upload(pixmap.toImage(), largestTexture);
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
    glClearColor(clear.redF(), clear.greenF(), clear.blueF(), clear.alphaF());
}

void GLWidget::resizeGL(int w, int h)
{
    projectionSize = QSize(w, h);
    // What the toolkit failed to make is not drawn into, nor are the errors
    // of its failure reported as the view's.
    if (!drawableMade(drawableSize(projectionSize))) {
        emit resized(QSize(width(), height()), pixmap.size());
        return;
    }
    glViewport(0, 0, w, h);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, w, h, 0, 4.0, 15.0);
    glMatrixMode(GL_MODELVIEW);
    checkGLError("glwidget.cpp", __LINE__);
    emit resized(QSize(width(), height()), pixmap.size());
}

void GLWidget::paintGL()
{
    if (refusingOldOpenGL || drawableTooLarge)
        return;
    restoreFrameState(fragShader);
    // Only what can be seen is cleared and shaded: the view is as large as
    // the image, and most of a micrograph lies outside the scroll area.
    const QRect seen = seenPart();
    const QRect scissor = drawablePart(seen);
    glScissor(scissor.x(), scissor.y(), scissor.width(), scissor.height());
    glEnable(GL_SCISSOR_TEST);
    frameSeenPart(scissor);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    glTranslatef(0, 0, -10);
    checkGLError("glwidget.cpp", __LINE__);

    glUniform1f(fragShader.uniformLocation("Terskel"), threshold);

    // The image spans the projection, so the whole image covers the whole
    // view at any screen scale.
    const QRectF whole(QPointF(0, 0), QSizeF(projectionSize));
    if (tiles.isEmpty()) {
        TiledTexture::drawQuad(whole, QRectF(0, 0, 1, 1));
    } else {
        const qreal sx = whole.width() / width();
        const qreal sy = whole.height() / height();
        tiles.draw(whole.size(), QRectF(seen.x() * sx, seen.y() * sy, seen.width() * sx, seen.height() * sy));
    }
    // The toolkit clears and copies in this context too, which a scissor
    // left on would clip.
    glDisable(GL_SCISSOR_TEST);
    checkGLError("glwidget.cpp", __LINE__);
    frameDrawn(seen);
}

QRect GLWidget::seenPart() const
{
    // Clipped by the scroll area's viewport and every other ancestor; what
    // other windows cover still counts, as they may move at any time.
    return visibleRegion().boundingRect();
}

QRect GLWidget::drawablePart(const QRect &part) const
{
    const QSize drawable = drawableSize(projectionSize);
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

bool GLWidget::drawableMade(const QSize &drawable)
{
    const int largest = largestDrawable();
    drawableTooLarge = qMax(drawable.width(), drawable.height()) > largest;
    if (drawableTooLarge && !saidTooLarge) {
        saidTooLarge = true;
        qDebug().noquote() << QString("The image \"%1\" is %2 x %3 pixels: on this screen its view needs %4 x %5 device "
                                      "pixels, more than the %6 a side %7, so the view shows nothing. What works: %8")
                                  .arg(imageFile).arg(pixmap.width()).arg(pixmap.height()).arg(drawable.width())
                                  .arg(drawable.height()).arg(largest).arg(largestDrawableHolder(), whatWorks(pixmap.size()));
    }
    return !drawableTooLarge;
}

void GLWidget::frameSeenPart(const QRect &scissor)
{
    const QSize drawable = drawableSize(projectionSize);
    if (drawable.width() <= largestViewport.width() && drawable.height() <= largestViewport.height())
        return;
    // The projection's units per drawable pixel: the part's place in them.
    const qreal px = qreal(projectionSize.width()) / drawable.width();
    const qreal py = qreal(projectionSize.height()) / drawable.height();
    glViewport(scissor.x(), scissor.y(), scissor.width(), scissor.height());
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(scissor.left() * px, (scissor.left() + scissor.width()) * px, (drawable.height() - scissor.top()) * py,
            (drawable.height() - scissor.top() - scissor.height()) * py, 4.0, 15.0);
    glMatrixMode(GL_MODELVIEW);
}
