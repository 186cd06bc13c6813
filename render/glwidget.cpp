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
    uploadImage(pixmap);
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
    restoreFrameState(fragShader);
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
