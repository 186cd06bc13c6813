#include <epoxy/gl.h>

#include "render/glwidget.h"
#include "render/image/tiledtexture.h"
#include "render/toolkit.h"
#include "filtered.h"
#include "tiffs.h"
#include "support.h"

#include <QImage>
#include <QOpenGLFramebufferObject>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest>

#include <cmath>
#include <functional>
#include <memory>

namespace {

// Red 191 over the top half, blue 255 on the left half; below, red 115 on
// the left (between 0.4 and 0.5) and 64 on the right (between 0.0 and 0.4):
// the bottom tells the starting threshold from its neighbours either side.
QImage twoTone(int size = 512)
{
    QImage image(size, size, QImage::Format_RGB32);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            image.setPixel(x, y, qRgb(y < size / 2 ? 191 : x < size / 2 ? 115 : 64, 0, x < size / 2 ? 255 : 0));
    return image;
}

// The view's last frame in logical pixels: it must hold exactly the view's
// device pixels, taken down by nearest pixel, so colours stay exact.
QImage grabLogical(GLWidget &view)
{
    const QImage frame = KeptFrames::last();
    const QSize device = view.size() * view.devicePixelRatioF();
    return frame.size() != device ? QImage() : frame.scaled(view.size(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

// A view of the image through the shader in a directory of its own, its
// messages collected from the start; shown where a size is given.
struct ShownView {
    ShownView(const QImage &image, const char *shader, const QSize &size = QSize())
        : ShownView([&](const QString &) { return dir.writeImage(image); }, shader, size)
    {
    }
    // The image file as the writer makes it, at the path it is given.
    ShownView(const std::function<bool(const QString &)> &writeImage, const char *shader, const QSize &size)
    {
        ready = writeImage(dir.path() + "/fibre.bmp") && dir.write("test.frag", shader);
        view = std::make_unique<GLWidget>();
        if (size.isValid()) {
            const int before = framegrabFrames();
            view->resize(size);
            view->show();
            ready = ready && QTest::qWaitForWindowExposed(view.get()) && frameAfter(before);
        }
    }
    DataDir dir;
    MessageLog log;
    KeptFrames frames;
    std::unique_ptr<GLWidget> view;
    bool ready = false;
};

} // namespace

class TestGLWidget : public QObject
{
    Q_OBJECT

private slots:
    void exposesSignalAndSlots();
    void parsesVersion_data();
    void parsesVersion();
    void drawsThroughThreshold_data();
    void drawsThroughThreshold();
    void drawsEverySeenPixel_data();
    void drawsEverySeenPixel();
    void drawsTilesAsOneTexture_data();
    void drawsTilesAsOneTexture();
    void drawsGreyAsItsColourTwin_data();
    void drawsGreyAsItsColourTwin();
    void drawsAsMipmappedTexture_data();
    void drawsAsMipmappedTexture();
    void uploadsTexelsAsToolkitDoes_data();
    void uploadsTexelsAsToolkitDoes();
    void showsTiff_data();
    void showsTiff();
    void reportsShaderThatCannotBeReached();
    void reportsMissingImage();
    void loadsImageOverToolkitDefaultLimit();
    void destroysUnshownView();
};

void TestGLWidget::exposesSignalAndSlots()
{
    // Peers connect by signature, so names, parameter names and kinds matter.
    const QMetaObject &meta = GLWidget::staticMetaObject;
    QCOMPARE(meta.className(), "GLWidget");
    const struct {
        const char *signature;
        QMetaMethod::MethodType type;
        QList<QByteArray> names;
    } methods[] = {
        {"resized(QSize,QSize)", QMetaMethod::Signal, {"windowSize", "textureSize"}},
        {"scroll_horiz(int)", QMetaMethod::Slot, {"x"}},
        {"scroll_vert(int)", QMetaMethod::Slot, {"y"}},
        {"sett_terskel(int)", QMetaMethod::Slot, {"x"}},
    };
    int previous = -1;
    for (const auto &expected : methods) {
        const int index = meta.indexOfMethod(expected.signature);
        QVERIFY2(index > previous, expected.signature);
        previous = index;
        const QMetaMethod method = meta.method(index);
        QCOMPARE(method.methodType(), expected.type);
        QCOMPARE(method.parameterNames(), expected.names);
        QCOMPARE(method.returnType(), int(QMetaType::Void));
        if (expected.type == QMetaMethod::Slot)
            QCOMPARE(method.access(), QMetaMethod::Public);
    }
}

void TestGLWidget::parsesVersion_data()
{
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<bool>("supported");

    QTest::newRow("Mesa compatibility") << QByteArray("4.5 (Compatibility Profile) Mesa 22.3.6") << true;
    QTest::newRow("2.0") << QByteArray("2.0") << true;
    QTest::newRow("2.1 with vendor") << QByteArray("2.1 Mesa 22.3.6") << true;
    QTest::newRow("two-digit major") << QByteArray("10.2") << true;
    QTest::newRow("major only") << QByteArray("3") << true;
    QTest::newRow("1.5") << QByteArray("1.5 Mesa 22.3.6") << false;
    QTest::newRow("1.9 minor not examined") << QByteArray("1.9") << false;
    QTest::newRow("0.9") << QByteArray("0.9") << false;
    QTest::newRow("negative") << QByteArray("-3.0") << false;
    QTest::newRow("empty") << QByteArray("") << false;
    QTest::newRow("no leading number") << QByteArray("OpenGL ES 3.2") << false;
    QTest::newRow("missing") << QByteArray() << false;
}

void TestGLWidget::parsesVersion()
{
    QFETCH(QByteArray, version);
    QFETCH(bool, supported);
    QCOMPARE(GLWidget::versionSupported(version.isNull() ? nullptr : version.constData()), supported);
}

void TestGLWidget::drawsThroughThreshold_data()
{
    QTest::addColumn<int>("slider");
    QTest::addColumn<QRgb>("topLeft");
    QTest::addColumn<QRgb>("topRight");
    QTest::addColumn<QRgb>("bottomLeft");
    QTest::addColumn<QRgb>("bottomRight");

    QTest::newRow("before the slider moves, 0.4: all but 64 pass") << -1 << qRgb(0, 255, 255) << qRgb(0, 255, 0)
                                                                   << qRgb(0, 255, 255) << qRgb(64, 0, 0);
    QTest::newRow("0: all pass") << 0 << qRgb(0, 255, 255) << qRgb(0, 255, 0) << qRgb(0, 255, 255)
                                 << qRgb(0, 255, 0);
    QTest::newRow("40: all but 64 pass") << 40 << qRgb(0, 255, 255) << qRgb(0, 255, 0) << qRgb(0, 255, 255)
                                         << qRgb(64, 0, 0);
    QTest::newRow("50: top passes") << 50 << qRgb(0, 255, 255) << qRgb(0, 255, 0) << qRgb(115, 0, 255)
                                    << qRgb(64, 0, 0);
    QTest::newRow("100: none passes") << 100 << qRgb(191, 0, 255) << qRgb(191, 0, 0) << qRgb(115, 0, 255)
                                      << qRgb(64, 0, 0);
}

void TestGLWidget::drawsThroughThreshold()
{
    QFETCH(int, slider);
    QFETCH(QRgb, topLeft);
    QFETCH(QRgb, topRight);
    QFETCH(QRgb, bottomLeft);
    QFETCH(QRgb, bottomRight);
    ShownView shown(twoTone(), stepShader, QSize(512, 512));
    QVERIFY(shown.ready);
    GLWidget &view = *shown.view;
    QCOMPARE(view.sizeHint(), QSize(512, 512));
    QCOMPARE(view.minimumSizeHint(), QSize(512, 512));
    // Without a slider value, each scroll slot repaints once without
    // changing what is drawn.
    const int frames = framegrabFrames();
    if (slider >= 0) {
        view.sett_terskel(slider);
    } else {
        view.scroll_horiz(120);
        view.scroll_vert(80);
        QCOMPARE(framegrabFrames(), frames + 2);
    }
    const QImage frame = grabLogical(view);
    QCOMPARE(frame.size(), QSize(512, 512));
    const struct {
        QPoint at;
        QRgb expected;
    } checks[] = {{{128, 128}, topLeft}, {{384, 128}, topRight}, {{128, 384}, bottomLeft}, {{384, 384}, bottomRight}};
    for (const auto &check : checks) {
        const QRgb actual = frame.pixel(check.at);
        QVERIFY2(near(actual, check.expected), qPrintable(QString("at (%1, %2): %3, expected %4").arg(check.at.x())
                                                              .arg(check.at.y()).arg(describe(actual), describe(check.expected))));
    }
    QVERIFY2(shown.log.messages.isEmpty(), qPrintable(shown.log.messages.join('\n')));
}

void TestGLWidget::drawsEverySeenPixel_data()
{
    QTest::addColumn<bool>("scrolled");
    QTest::newRow("shown whole, resized to 300 x 200") << false;
    // An edge of the seen part on an odd logical pixel falls inside a
    // device pixel at a fractional scale, which must be drawn all the same.
    QTest::newRow("in a scroll area, 301 x 201 seen from (100, 50)") << true;
}

// Every seen device pixel shows the image, at any scale; the rest of the
// drawable keeps what it held; and what the view leaves the toolkit to draw
// in is not clipped to it.
void TestGLWidget::drawsEverySeenPixel()
{
    QFETCH(bool, scrolled);
    // Made first, so that it goes last: the view leaves it when it goes.
    QScrollArea area;
    ShownView shown(twoTone(), stepShader);
    QVERIFY(shown.ready);
    GLWidget &view = *shown.view;
    QSignalSpy resized(&view, &GLWidget::resized);
    QRect seen(0, 0, 300, 200);
    if (scrolled) {
        seen = QRect(100, 50, 301, 201);
        area.setFrameShape(QFrame::NoFrame);
        area.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        area.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        area.setWidget(&view);
        area.resize(seen.size());
        const int before = framegrabFrames();
        area.show();
        QVERIFY(QTest::qWaitForWindowExposed(&area) && frameAfter(before));
        area.horizontalScrollBar()->setValue(seen.left());
        area.verticalScrollBar()->setValue(seen.top());
        QTRY_COMPARE(view.visibleRegion().boundingRect(), seen);
    } else {
        view.resize(512, 512);
        const int before = framegrabFrames();
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view) && frameAfter(before));
        view.resize(seen.size());
        QTRY_VERIFY(!resized.isEmpty() && resized.last().at(0).toSize() == seen.size());
        QCOMPARE(resized.last().at(1).toSize(), QSize(512, 512));
    }
    // Magenta over all of the drawable first, then one threshold change.
    // The drawable holds colour alone: nothing is drawn with depth or stencil.
    view.sett_terskel(50);
    view.makeCurrent();
    GLint depth = -1, stencil = -1;
    glGetIntegerv(GL_DEPTH_BITS, &depth);
    glGetIntegerv(GL_STENCIL_BITS, &stencil);
    QCOMPARE(std::make_pair(depth, stencil), std::make_pair(0, 0));
    glClearColor(1, 0, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    view.sett_terskel(100);
    const QImage frame = KeptFrames::last();
    // The frame is the whole view's on Qt 5, what is seen of it on Qt 6,
    // spread over the drawable. Each device pixel the seen part touches
    // shows what the image gives there, edges and corners included (the
    // shader at 1.0 keeps red and blue as filtered, and the image has no
    // green); each it does not keeps the magenta, as nothing is shaded where
    // nothing can be seen.
    const QRect drawn = Toolkit::viewIsNativeWindow() ? view.rect() : seen;
    const qreal ratio = qreal(frame.width()) / drawn.width();
    const qreal ratioY = qreal(frame.height()) / drawn.height();
    const QRect touched(QPoint(int((seen.left() - drawn.left()) * ratio), int((seen.top() - drawn.top()) * ratioY)),
                        QPoint(int(std::ceil((seen.right() + 1 - drawn.left()) * ratio)) - 1,
                               int(std::ceil((seen.bottom() + 1 - drawn.top()) * ratioY)) - 1));
    const FilteredImage model(twoTone(), QRectF(-drawn.left() * ratio, -drawn.top() * ratioY, view.width() * ratio, view.height() * ratioY));
    const Agreement agrees = agreement(frame, touched, model);
    qInfo("worst %.1f levels over %d device pixels", agrees.worst, agrees.pixels);
    QVERIFY2(agrees.holds(), qPrintable(agrees.problem));
    // A device pixel more each side may be shaded, where the toolkit's
    // rounding may place the seen part's edge.
    const QRect shaded = touched.adjusted(-1, -1, 1, 1);
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x)
            if (!shaded.contains(x, y) && !near(frame.pixel(x, y), qRgb(255, 0, 255)))
                QFAIL(qPrintable(QString("device pixel (%1, %2) of the %3 x %4 frame, outside the seen part: %5")
                                     .arg(x).arg(y).arg(frame.width()).arg(frame.height()).arg(describe(frame.pixel(x, y)))));
    if (scrolled) {
        // Where the toolkit draws next, after the frame: a clear of its own
        // reaches the whole drawable.
        view.makeCurrent();
        glClearColor(0, 0, 1, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        GLubyte corner[4] = {0, 0, 0, 0};
        glReadPixels(0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, corner);
        QCOMPARE(QColor(corner[0], corner[1], corner[2]), QColor(0, 0, 255));
    }
    const QColor grey(Qt::darkGray);
    view.makeCurrent();
    glClearColor(grey.redF(), grey.greenF(), grey.blueF(), grey.alphaF());
    area.takeWidget();
}

void TestGLWidget::drawsTilesAsOneTexture_data()
{
    QTest::addColumn<int>("largest");
    QTest::addColumn<QSize>("drawn");
    QTest::newRow("3 x 2 tiles, a texel a pixel") << 16 << QSize(37, 23);
    QTest::newRow("3 x 2 tiles, stretched") << 16 << QSize(63, 50);
    QTest::newRow("one tile, stretched") << 64 << QSize(63, 50);
}

// Tiles, filtered across their edges and at the image's, give the picture
// of one texture of the image clamped at its edges.
void TestGLWidget::drawsTilesAsOneTexture()
{
    QFETCH(int, largest);
    QFETCH(QSize, drawn);
    GLContext context;
    QOpenGLFramebufferObject buffer(drawn);
    QVERIFY(buffer.bind());
    const QImage image = noise(37, 23, QImage::Format_RGB32, 99);
    glViewport(0, 0, drawn.width(), drawn.height());
    glOrtho(0, drawn.width(), drawn.height(), 0, -1, 1);
    glEnable(GL_TEXTURE_2D);
    TiledTexture tiles;
    tiles.upload(image, largest);
    QCOMPARE(tiles.count(), largest < 37 ? 6 : 1);
    tiles.draw(drawn, QRectF(QPointF(0, 0), drawn));
    const QImage tiled = buffer.toImage();
    tiles.release();
    QCOMPARE(glGetError(), GLenum(GL_NO_ERROR));
    const Agreement agrees = agreement(tiled, tiled.rect(), FilteredImage(image, QRectF(QPointF(0, 0), drawn)));
    qInfo("worst %.1f levels over %d device pixels", agrees.worst, agrees.pixels);
    QVERIFY2(agrees.holds(), qPrintable(agrees.problem));
}

void TestGLWidget::drawsGreyAsItsColourTwin_data()
{
    QTest::addColumn<QSize>("viewSize");
    QTest::newRow("image size") << QSize(256, 192);
    QTest::newRow("stretched") << QSize(411, 333);
}

// An 8-bit grey image, one channel in its texture, gives the frame of the
// same pixels stored as 24-bit colour, every device pixel of it.
void TestGLWidget::drawsGreyAsItsColourTwin()
{
    QFETCH(QSize, viewSize);
    const QImage grey = noise(256, 192, QImage::Format_Grayscale16, 31).convertToFormat(QImage::Format_Grayscale8);
    QImage frames[2];
    for (int twin = 0; twin < 2; ++twin) {
        ShownView shown([&](const QString &path) { return twin ? grey.convertToFormat(QImage::Format_RGB32).save(path, "BMP")
                                                               : grey.save(path, "PNG"); }, showShader, viewSize);
        QVERIFY(shown.ready);
        shown.view->scroll_vert(0);
        frames[twin] = KeptFrames::last();
    }
    QVERIFY(!frames[0].isNull());
    QCOMPARE(frames[0].size(), frames[1].size());
    QVERIFY(frames[0] == frames[1]);
}

void TestGLWidget::drawsAsMipmappedTexture_data()
{
    QTest::addColumn<QSize>("viewSize");
    QTest::addColumn<bool>("same");
    QTest::newRow("image size") << QSize(256, 256) << true;
    QTest::newRow("stretched") << QSize(400, 300) << true;
    // Shrinking the view below its minimum size shows what a smaller level
    // would change, so the rows above can tell.
    QTest::newRow("shrunk below the image, levels show") << QSize(100, 100) << false;
}

void TestGLWidget::drawsAsMipmappedTexture()
{
    // The view uploads no smaller levels of the image, since it never draws
    // it smaller than it is. Its frame must be what the same texture with
    // mipmaps gives, on scaled screens too. Noise makes every level differ.
    QFETCH(QSize, viewSize);
    QFETCH(bool, same);
    ShownView shown(noise(256, 256, QImage::Format_RGB32, 12345),
                    "uniform sampler2D Tekstur;\n"
                    "uniform float Terskel;\n"
                    "void main() { gl_FragColor = texture2D(Tekstur, gl_TexCoord[0].st) * step(0.0, Terskel); }\n",
                    viewSize);
    QVERIFY(shown.ready);
    GLWidget &view = *shown.view;
    view.scroll_vert(0);
    const QImage plain = KeptFrames::last();

    // A repaint leaves the view's texture bound in its context (a grab may
    // bind the toolkit's own).
    view.scroll_vert(0);
    view.makeCurrent();
    GLint texture = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
    QVERIFY(texture != 0);
    glGenerateMipmap(GL_TEXTURE_2D);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    QCOMPARE(glGetError(), GLenum(GL_NO_ERROR));
    view.scroll_vert(0);
    const QImage mipmapped = KeptFrames::last();
    QCOMPARE(mipmapped.size(), plain.size());
    QCOMPARE(mipmapped == plain, same);
}

void TestGLWidget::uploadsTexelsAsToolkitDoes_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<QByteArray>("fileFormat");
    // The texture's own format: one grey channel of the image's depth, or
    // RGBA8.
    QTest::addColumn<int>("texture");

    // Every texel differs from its neighbours, alpha too where there is one.
    const QImage colours = noise(67, 41, QImage::Format_ARGB32, 777);
    const QImage greys = noise(67, 41, QImage::Format_Grayscale16, 778);
    QTest::newRow("24-bit BMP, opaque (a micrograph)") << colours.convertToFormat(QImage::Format_RGB32) << QByteArray("BMP") << GL_RGBA8;
    QTest::newRow("8-bit palette") << colours.convertToFormat(QImage::Format_Indexed8) << QByteArray("BMP") << GL_RGBA8;
    QTest::newRow("8-bit grey palette") << greys.convertToFormat(QImage::Format_Grayscale8).convertToFormat(QImage::Format_Indexed8)
                                        << QByteArray("BMP") << GL_LUMINANCE8;
    QTest::newRow("PNG with alpha") << colours << QByteArray("PNG") << GL_RGBA8;
    QTest::newRow("grey PNG") << greys.convertToFormat(QImage::Format_Grayscale8) << QByteArray("PNG") << GL_LUMINANCE8;
    QTest::newRow("16-bit grey PNG") << greys << QByteArray("PNG") << GL_LUMINANCE16;
    QTest::newRow("16-bit PNG with alpha") << colours.convertToFormat(QImage::Format_RGBA64) << QByteArray("PNG") << GL_RGBA8;
}

// Whatever the image decodes to, the texture holds what the toolkit's own
// upload makes of it: RGBA8, alpha not premultiplied, rows as they stand;
// grey images their own grey, 16 bits of it where they have them, which the
// shader sees whole.
void TestGLWidget::uploadsTexelsAsToolkitDoes()
{
    QFETCH(QImage, image);
    QFETCH(QByteArray, fileFormat);
    QFETCH(int, texture);
    DataDir dir;
    // Any image the toolkit reads serves, whatever the file is called.
    QVERIFY(image.save(dir.path() + "/fibre.bmp", fileFormat.constData()));
    // The 16-bit image's lower byte, which 8 bits a channel would lose.
    QVERIFY(dir.write("test.frag", texture == GL_LUMINANCE16 ? lowByteShader : stepShader));
    const QImage expected = QPixmap("fibre.bmp").toImage().convertToFormat(QImage::Format_RGBA8888);
    QCOMPARE(expected.size(), image.size());
    KeptFrames frames;
    GLWidget view;
    const int before = framegrabFrames();
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view) && frameAfter(before));
    // A repaint leaves the view's texture bound on unit 0 in its context.
    view.scroll_vert(0);
    const QImage frame = KeptFrames::last();
    view.makeCurrent();
    glActiveTexture(GL_TEXTURE0);
    GLint name = 0, internal = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &name);
    QVERIFY(name != 0);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &internal);
    QCOMPARE(internal, texture);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    if (texture == GL_RGBA8) {
        QImage texels(image.size(), QImage::Format_RGBA8888);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.bits());
        QCOMPARE(texels, expected);
    } else {
        // Grey reads back as one channel (read as RGBA it would be red alone).
        const QImage::Format grey = texture == GL_LUMINANCE8 ? QImage::Format_Grayscale8 : QImage::Format_Grayscale16;
        QImage texels(image.size(), grey);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_LUMINANCE, texture == GL_LUMINANCE8 ? GL_UNSIGNED_BYTE : GL_UNSIGNED_SHORT, texels.bits());
        QCOMPARE(texels, image.convertToFormat(grey));
    }
    QCOMPARE(glGetError(), GLenum(GL_NO_ERROR));
    // One level only: the view is never smaller than the image.
    GLint smaller = -1;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 1, GL_TEXTURE_WIDTH, &smaller);
    QCOMPARE(smaller, 0);
    if (texture == GL_LUMINANCE16) {
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const int low = reinterpret_cast<const quint16 *>(image.constScanLine(y))[x] & 0xff;
                QVERIFY2(near(frame.pixel(x, y), qRgb(low, low, low), 1),
                         qPrintable(QString("at (%1, %2): %3 for the lower byte %4").arg(x).arg(y).arg(describe(frame.pixel(x, y))).arg(low)));
            }
    }
}

void TestGLWidget::showsTiff_data()
{
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("compression");
    QTest::addColumn<bool>("tiled");
    QTest::addColumn<bool>("bigEndian");
    QTest::addColumn<int>("morePages");
    QTest::addColumn<QSize>("viewSize");

    const QSize own(93, 57);
    const QSize stretched(250, 170);
    QTest::newRow("8-bit, uncompressed, strips, little-endian") << 8 << COMPRESSION_NONE << false << false << 0 << own;
    QTest::newRow("8-bit, LZW, strips, big-endian, stretched") << 8 << COMPRESSION_LZW << false << true << 0 << stretched;
    QTest::newRow("8-bit, Deflate, tiles, little-endian") << 8 << COMPRESSION_ADOBE_DEFLATE << true << false << 0 << own;
    QTest::newRow("16-bit, uncompressed, strips, big-endian") << 16 << COMPRESSION_NONE << false << true << 0 << own;
    QTest::newRow("16-bit, LZW, tiles, little-endian, stretched") << 16 << COMPRESSION_LZW << true << false << 0 << stretched;
    QTest::newRow("16-bit, Deflate, strips, big-endian") << 16 << COMPRESSION_ADOBE_DEFLATE << false << true << 0 << own;
    QTest::newRow("8-bit, three pages: the first") << 8 << COMPRESSION_NONE << false << false << 2 << own;
    QTest::newRow("16-bit, two pages, tiles: the first") << 16 << COMPRESSION_LZW << true << true << 1 << stretched;
    // Qt 6.8's reader takes floating-point samples, earlier ones do not.
    QTest::newRow("32-bit float, as the reader takes it") << 32 << COMPRESSION_NONE << false << false << 0 << own;
}

// A grey TIFF, whatever it is called, shows as its pixels filtered over
// every device pixel of the view; one the reader cannot read is said to be
// unreadable, and the view goes on.
void TestGLWidget::showsTiff()
{
    QFETCH(int, bits);
    QFETCH(int, compression);
    QFETCH(bool, tiled);
    QFETCH(bool, bigEndian);
    QFETCH(int, morePages);
    QFETCH(QSize, viewSize);
    const QImage image = noise(93, 57, bits == 16 ? QImage::Format_Grayscale16 : QImage::Format_Grayscale8, 501);
    ShownView shown([&](const QString &path) { return writeTiff(path, image, {bits, compression, tiled, bigEndian, morePages}); },
                    showShader, viewSize);
    QVERIFY(shown.ready);
    GLWidget &view = *shown.view;
    view.scroll_vert(0);
    const QImage read = bits == 32 ? QImage(shown.dir.path() + "/fibre.bmp") : image;
    if (read.isNull()) {
        QCOMPARE(shown.log.matching("Cannot load the image \"fibre.bmp\"").size(), 1);
        QCOMPARE(view.sizeHint(), QSize(0, 0));
        return;
    }
    QVERIFY2(shown.log.messages.isEmpty(), qPrintable(shown.log.messages.join('\n')));
    const QImage frame = KeptFrames::last();
    QCOMPARE(frame.size(), view.size() * view.devicePixelRatioF());
    const Agreement agrees = agreement(frame, frame.rect(), FilteredImage(read, QRectF(QPointF(0, 0), frame.size())));
    qInfo("worst %.1f levels over %d device pixels", agrees.worst, agrees.pixels);
    QVERIFY2(agrees.holds(), qPrintable(agrees.problem));
}

void TestGLWidget::reportsShaderThatCannotBeReached()
{
    {
        ShownView shown(twoTone(64), "void main() { gl_FragColor = vec4(1.0); }\n", QSize(64, 64));
        QVERIFY(shown.ready);
        QCOMPARE(shown.log.matching("slider cannot reach the shader").size(), 1);
        QCOMPARE(shown.log.matching("image cannot reach the shader").size(), 1);
    }

    // A program that failed to link makes the next GL calls fail; the
    // view reports them with its own file name and goes on drawing.
    ShownView broken(twoTone(64), "void main() { this is not GLSL }\n", QSize(64, 64));
    QVERIFY(broken.ready);
    QVERIFY(!broken.log.matching("error").isEmpty());
    QVERIFY2(!broken.log.matching("\"glError in glwidget.cpp:").isEmpty(), qPrintable(broken.log.messages.join('\n')));
    const int swaps = framegrabFrames();
    broken.view->sett_terskel(50);
    QCOMPARE(framegrabFrames(), swaps + 1);
}

void TestGLWidget::reportsMissingImage()
{
    ShownView shown(QImage(), stepShader);
    const QStringList reports = shown.log.matching("\"fibre.bmp\"");
    QCOMPARE(reports.size(), 1);
    QVERIFY2(reports[0].contains(QDir::currentPath()), qPrintable(reports[0]));
    GLWidget &view = *shown.view;
    QCOMPARE(view.sizeHint(), QSize(0, 0));
    view.resize(64, 64);
    const int before = framegrabFrames();
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view) && frameAfter(before));
    view.sett_terskel(10);
    QCOMPARE(grabLogical(view).size(), QSize(64, 64));
}

void TestGLWidget::loadsImageOverToolkitDefaultLimit()
{
    // 6000 x 6000 pixels decode to 137 MB, over Qt 6's default limit of
    // 128 MB; micrographs are larger still.
    ShownView shown(filled(6000, 6000, qRgb(10, 20, 30)), stepShader);
    QCOMPARE(shown.view->sizeHint(), QSize(6000, 6000));
    QVERIFY2(shown.log.matching("\"fibre.bmp\"").isEmpty(), qPrintable(shown.log.messages.join('\n')));
}

void TestGLWidget::destroysUnshownView()
{
    // Never shown, so it never had a context: destroying it must not
    // reach for OpenGL.
    ShownView shown(twoTone(16), stepShader);
}

QTEST_MAIN(TestGLWidget)
#include "tst_glwidget.moc"
