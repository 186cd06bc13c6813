#include <epoxy/gl.h>

#include "render/glwidget.h"
#include "render/checkglerror.h"
#include "render/drawablelimits.h"
#include "render/image/imageloader.h"
#include "render/image/textureupload.h"
#include "widgets/loadprogress.h"
#include "render/seenpart.h"

#include <QColor>
#include <QDebug>
#include <QDir>
#include <QMessageBox>

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
      threshold(initialThreshold),
      progress(std::make_unique<LoadProgress>(imageFile, loading.started()))
{
    while (!loading.waitFor(20))
        progress->reading(loading.bytesRead(), loading.fileBytes());
    // Once more when read, which may have been done while the base was made:
    // where the load is due to show, its window comes now, while the
    // toolkit's events can still be taken.
    progress->reading(loading.fileBytes(), loading.fileBytes());
    // A grey image stays grey in the pixmap, one byte a pixel (two for 16
    // bits) where the toolkit would make four.
    QImage image = loading.take();
    const bool grey = TextureUpload::isGrey(image.format());
    pixmap = QPixmap::fromImage(std::move(image), grey ? Qt::NoFormatConversion : Qt::AutoColor);
    if (!loading.refusal().isEmpty()) {
        qDebug().noquote() << loading.refusal();
    } else if (pixmap.isNull()) {
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
    limits.read();
    // No mipmaps: the view is never smaller than the image (its minimum
    // size), so the image is only ever drawn at one texel per pixel or
    // larger, and a smaller level is never sampled. Making them took a
    // quarter of the start-up at 8192 x 8192 and a third more texture memory.
    // A drawable the driver cannot make is never drawn into, so nothing goes
    // up for it (Qt 5's view is as large as the image, and never smaller).
    const bool drawn = limits.fits(drawableSize());
    const qint64 pixels = qint64(pixmap.width()) * pixmap.height();
    const TextureUpload::Progress uploaded = [this, pixels](qint64 done) { progress->uploading(done, pixels); };
    if (drawn && qMax(pixmap.width(), pixmap.height()) <= limits.largestTexture()) {
        uploadImage(pixmap, uploaded);
        // Linear filtering at the image's edges blends in what lies beyond
        // them: the default repeat brought the opposite edge into the
        // outermost device pixels of every magnified view. Beyond an edge
        // is the edge itself, as the tiles have it.
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    } else if (drawn) {
        tiles.upload(pixmap.toImage(), limits.largestTexture(), uploaded);
    }
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
    // What the driver cannot make is not drawn into, nor are the errors of
    // its failure reported as the view's.
    if (refusingOldOpenGL || !drawableMade()) {
        emit resized(QSize(width(), height()), pixmap.size());
        return;
    }
    // The viewport is the drawable's own size: Qt 5 hands resizeGL the
    // scaled size cut to whole pixels, where the window it made is rounded
    // (a row short at scale 1.5 and an odd height), and that row stayed black.
    const QSize drawable = drawableSize();
    glViewport(0, 0, drawable.width(), drawable.height());
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, w, h, 0, 4.0, 15.0);
    glMatrixMode(GL_MODELVIEW);
    checkGLError("glwidget.cpp", __LINE__);
    emit resized(QSize(width(), height()), pixmap.size());
}

void GLWidget::paintGL()
{
    // The viewer's window shows: the load is over.
    progress->finish();
    if (refusingOldOpenGL || !drawableMade())
        return;
    // Only what can be seen is cleared and shaded: the view is as large as
    // the image, and most of a micrograph lies outside the scroll area.
    const QRect seen = seenPart(this);
    const QRect scissor = scissorFor(seen);
    glScissor(scissor.x(), scissor.y(), scissor.width(), scissor.height());
    glEnable(GL_SCISSOR_TEST);
    frameDrawablePart();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    glTranslatef(0, 0, -10);
    checkGLError("glwidget.cpp", __LINE__);

    glUniform1f(fragShader.uniformLocation("Terskel"), threshold);

    // Where each texel covers exactly one device pixel (the view at the
    // image's size, the screen unscaled), linear filtering returns the texel
    // itself, at the cost of four fetches for one: the texels are taken as
    // they are there, and filtered wherever the view is stretched or scaled.
    const bool texelPerPixel = size() == pixmap.size() && drawableSize() == drawablePart().size();
    const GLint filter = texelPerPixel ? GL_NEAREST : GL_LINEAR;
    if (filter != filtering) {
        filtering = filter;
        if (tiles.isEmpty()) {
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
        } else {
            tiles.setFilter(filter);
        }
    }

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
}

QRect GLWidget::scissorFor(const QRect &part) const
{
    const QRect drawn = drawablePart();
    const QSize drawable = drawableSize();
    const QRect inside = part & drawn;
    if (inside.isEmpty())
        return QRect();
    const qreal sx = qreal(drawable.width()) / drawn.width();
    const qreal sy = qreal(drawable.height()) / drawn.height();
    const int left = int(std::floor((inside.left() - drawn.left()) * sx)) - 1;
    const int right = int(std::ceil((inside.right() + 1 - drawn.left()) * sx)) + 1;
    const int top = int(std::floor((inside.top() - drawn.top()) * sy)) - 1;
    const int bottom = int(std::ceil((inside.bottom() + 1 - drawn.top()) * sy)) + 1;
    const QRect flipped(left, drawable.height() - bottom, right - left, bottom - top);
    return flipped & QRect(QPoint(0, 0), drawable);
}

bool GLWidget::drawableMade()
{
    const QSize drawable = drawableSize();
    int side = 0;
    QString holder;
    if (limits.fits(drawable, &side, &holder))
        return true;
    if (!saidTooLarge) {
        saidTooLarge = true;
        qDebug().noquote() << DrawableLimits::tooLarge(imageFile, pixmap.size(), drawable, side, holder,
                                                       whatWorks(pixmap.size(), side));
    }
    return false;
}

void GLWidget::frameDrawablePart()
{
    // Qt 6 sets the viewport before each frame, to the scaled size cut to
    // whole pixels, where the window it made is rounded.
    const QRect drawn = drawablePart();
    const QSize drawable = drawableSize();
    // The projection's units per logical pixel: the part's place in them.
    const qreal px = qreal(projectionSize.width()) / width();
    const qreal py = qreal(projectionSize.height()) / height();
    glViewport(0, 0, drawable.width(), drawable.height());
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(drawn.left() * px, (drawn.right() + 1) * px, (drawn.bottom() + 1) * py, drawn.top() * py, 4.0, 15.0);
    glMatrixMode(GL_MODELVIEW);
}
