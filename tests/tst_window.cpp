// The real window in this process, at the screen scale of the environment:
// its parts, the slider's frames, and on the screen what the image gives at
// every device pixel of the view wherever it is scrolled, grown, covered or
// moved, in tiles, up to and past the driver's limits.

#include <epoxy/gl.h>

#include "app/window.h"
#include "filtered.h"
#include "places.h"
#include "render/glwidget.h"
#include "render/toolkit.h"
#include "support.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QOpenGLContext>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QtTest>

#include <cmath>
#include <memory>

namespace {

// What the view's teardown did when it deleted its shader object.
struct Deletion {
    int calls = 0;
    GLuint shader = 0;
    QOpenGLContext *context = nullptr;
    GLint flagged = GL_FALSE;
    GLenum error = GL_NO_ERROR;
};
Deletion deletion;
void(EPOXY_CALLSPEC *realDeleteShader)(GLuint) = nullptr;

// Stands in for glDeleteShader in the loader's table: notes the context
// current at the call and, in that same context, what became of the name.
void EPOXY_CALLSPEC recordDeleteShader(GLuint shader)
{
    ++deletion.calls;
    deletion.shader = shader;
    deletion.context = QOpenGLContext::currentContext();
    realDeleteShader(shader);
    glGetShaderiv(shader, GL_DELETE_STATUS, &deletion.flagged);
    deletion.error = glGetError();
}

// A place and size scaled as the toolkit scales a native window's: each
// rounded.
QRect rounded(const QRect &logical, qreal ratio)
{
    return QRect(QPoint(qRound(logical.x() * ratio), qRound(logical.y() * ratio)),
                 QSize(qRound(logical.width() * ratio), qRound(logical.height() * ratio)));
}

// The window's device pixels as the screen shows them: read from the X
// server it is a window of, or by the session's command for its screen
// (a compositor's output, with each window at its top-left corner). A
// compositor draws after the client: the picture is taken once two
// readings agree.
QImage windowPicture(const QWidget &window)
{
    QStringList grab = QProcess::splitCommand(qEnvironmentVariable("OMBREL_SCREEN_GRAB"));
    if (grab.isEmpty())
        return window.screen()->grabWindow(window.winId()).toImage();
    const QString program = grab.takeFirst();
    const QRect device(QPoint(0, 0), window.size() * window.windowHandle()->devicePixelRatio());
    QImage shot, previous;
    QElapsedTimer timer;
    timer.start();
    do {
        previous = shot;
        QProcess reader;
        reader.start(program, grab);
        reader.waitForFinished(20000);
        shot.loadFromData(reader.readAllStandardOutput());
        shot = shot.copy(device).convertToFormat(QImage::Format_RGB32);
        QTest::qWait(50);
    } while ((shot.isNull() || shot != previous) && timer.elapsed() < 10000);
    return shot;
}

// Where the whole image lies in the window's device pixels. Qt 6 draws it
// where the view is, at the screen's scale. Qt 5's view is a native window,
// which the toolkit places in its native parent, the scroll area's viewport
// (itself native in the window), at its scaled place and size, each
// rounded: the image spreads over that.
QRectF imageBox(const QWidget &window, const QScrollArea &area, const QWidget &view)
{
    const qreal ratio = window.windowHandle()->devicePixelRatio();
    if (!Toolkit::viewIsNativeWindow())
        return QRectF(QPointF(view.mapTo(&window, QPoint(0, 0))) * ratio, QSizeF(view.size()) * ratio);
    const QRect viewport = rounded(QRect(area.viewport()->mapTo(&window, QPoint(0, 0)), area.viewport()->size()), ratio);
    return rounded(view.geometry(), ratio).translated(viewport.topLeft());
}

// Lets the frames of showing the window finish (on Wayland they wait for
// the compositor's frame callbacks), so that what follows counts only its own.
void settleFrames()
{
    for (int seen = -1; seen != framegrabFrames(); QTest::qWait(200))
        seen = framegrabFrames();
}

enum class Step { Start, Scrolled, FarCorner, Grown, Covered, OffScreen, SliderToTop, Resized, Maximised };
enum class Limit { None, Texture, Renderbuffer, Viewport };

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void arrangesViewAndSlider();
    void sliderDrivesView();
    void closingDeletesShaderInViewContext();
    void showsImage_data();
    void showsImage();

private:
    DataDir *data = nullptr;
};

void TestWindow::init()
{
    data = new DataDir;
    QVERIFY(data->writeImage(filled(512, 512, qRgb(200, 0, 0))));
    QVERIFY(data->write("test.frag", stepShader));
}

void TestWindow::cleanup()
{
    delete data;
    data = nullptr;
}

void TestWindow::arrangesViewAndSlider()
{
    Window window;
    QCOMPARE(window.metaObject()->className(), "Window");
    QCOMPARE(window.windowTitle(), QString("Ombrel GL"));
    QVERIFY(window.isWindow());

    auto *layout = qobject_cast<QHBoxLayout *>(window.layout());
    QVERIFY(layout);
    QCOMPARE(layout->count(), 2);
    auto *scrollArea = qobject_cast<QScrollArea *>(layout->itemAt(0)->widget());
    auto *slider = qobject_cast<QSlider *>(layout->itemAt(1)->widget());
    QVERIFY(scrollArea && slider);
    QCOMPARE(layout->stretch(0), 0);
    QCOMPARE(layout->stretch(1), 0);
    QVERIFY(scrollArea->widgetResizable());
    QVERIFY(qobject_cast<GLWidget *>(scrollArea->widget()));

    QCOMPARE(slider->orientation(), Qt::Vertical);
    QCOMPARE(slider->minimum(), 0);
    QCOMPARE(slider->maximum(), 100);
    QCOMPARE(slider->value(), 0);
}

void TestWindow::sliderDrivesView()
{
    Window window;
    const int shown = framegrabFrames();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window) && frameAfter(shown));
    auto *view = window.findChild<GLWidget *>();
    auto *slider = window.findChild<QSlider *>();
    QVERIFY(view && slider);
    settleFrames();
    KeptFrames frames;

    // Every change of value is one call of the slot and one finished frame.
    // On Wayland the compositor's frame callbacks may let the toolkit add a
    // frame of its own: there every change reaches at least one.
    const bool exact = !QGuiApplication::platformName().startsWith("wayland");
    for (int value : {100, 0, 40, 78, 79, 100}) {
        const int before = framegrabFrames();
        slider->setValue(value);
        if (exact)
            QCOMPARE(framegrabFrames(), before + 1);
        else
            QVERIFY(framegrabFrames() > before);
    }
    int swaps = framegrabFrames();
    // Setting the value it already has changes nothing.
    slider->setValue(100);
    QCOMPARE(framegrabFrames(), swaps);

    // 100 gives threshold 1.0: nothing passes, and the red of 200 stays.
    QCOMPARE(KeptFrames::last().pixel(10, 10), qRgb(200, 0, 0));
    slider->setValue(78);
    QCOMPARE(KeptFrames::last().pixel(10, 10), qRgb(0, 255, 0));
    slider->setValue(79);
    QCOMPARE(KeptFrames::last().pixel(10, 10), qRgb(200, 0, 0));

    // Through the keyboard as a user would: one frame per step.
    swaps = framegrabFrames();
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_Down);
    QTest::keyClick(slider, Qt::Key_Down);
    QCOMPARE(slider->value(), 77);
    if (exact)
        QCOMPARE(framegrabFrames(), swaps + 2);
    else
        QVERIFY(framegrabFrames() >= swaps + 2);
    QCOMPARE(KeptFrames::last().pixel(10, 10), qRgb(0, 255, 0));
}

void TestWindow::closingDeletesShaderInViewContext()
{
    auto window = std::make_unique<Window>();
    const int shown = framegrabFrames();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()) && frameAfter(shown));
    // The view's program, current in its context, has its shader attached.
    auto *view = window->findChild<GLWidget *>();
    view->makeCurrent();
#if QT_VERSION_MAJOR >= 6
    QOpenGLContext *context = view->context();
#else
    QOpenGLContext *context = view->context()->contextHandle();
#endif
    GLint program = 0;
    GLuint shader = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    glGetAttachedShaders(GLuint(program), 1, nullptr, &shader);
    QVERIFY(shader != 0);

    // Another context current when the window goes: the teardown must make
    // the view's own current before it deletes.
    GLContext other;
    QVERIFY(other.isCurrent());
    {
        EntryPointPatch remove(epoxy_glDeleteShader, "glDeleteShader", recordDeleteShader);
        realDeleteShader = remove.real;
        window->close();
        window.reset();
    }

    QCOMPARE(deletion.calls, 1);
    QCOMPARE(deletion.shader, shader);
    QVERIFY(deletion.context == context);
    // Still attached to the program, which is kept, so OpenGL flags the
    // object for deletion rather than freeing the name at once.
    QCOMPARE(deletion.flagged, GL_TRUE);
    QCOMPARE(deletion.error, GLenum(GL_NO_ERROR));
}

void TestWindow::showsImage_data()
{
    // The image's pixels: noise in this format, or places (Format_Invalid).
    QTest::addColumn<int>("pixels");
    QTest::addColumn<QSize>("image");
    QTest::addColumn<int>("step");
    // A driver limit, in pixels, and whose it is; 0 for the driver's own.
    QTest::addColumn<int>("limit");
    QTest::addColumn<int>("limited");
    // The window's size; empty for one that fits the row.
    QTest::addColumn<QSize>("windowSize");

    const int colour = QImage::Format_RGB32;
    const int places = QImage::Format_Invalid;
    const int grey = QImage::Format_Grayscale8;
    const int grey16 = QImage::Format_Grayscale16;
    const QSize micrograph(1024, 1024);
    // Resized and maximised by the desktop, where its session can be asked.
    for (const auto &step : {std::make_pair(Step::Start, "at the start"), {Step::Scrolled, "scrolled by its bars"},
                             {Step::FarCorner, "at the far corner"}, {Step::Resized, "resized by the desktop"},
                             {Step::Maximised, "maximised by the desktop"}})
        QTest::addRow("noise 1024 x 1024, %s", step.second) << colour << micrograph << int(step.first) << 0 << 0 << QSize();
    for (const auto &step : {std::make_pair(Step::Start, "at the start"), {Step::Scrolled, "scrolled by its bars"},
                             {Step::FarCorner, "at the far corner"}, {Step::Grown, "grown"}, {Step::Covered, "covered and uncovered"},
                             {Step::OffScreen, "off the screen and back"}, {Step::SliderToTop, "slider to the top"}})
        QTest::addRow("places 1024 x 1024, %s", step.second) << places << micrograph << int(step.first) << 0 << 0 << QSize();
    // Windows whose viewport falls between device pixels at fractional
    // scales (the first one does not, in the suite's style).
    for (const QSize window : {QSize(700, 480), QSize(701, 483)})
        for (const auto &step : {std::make_pair(Step::Start, "at the start"), {Step::FarCorner, "at the far corner"}})
            QTest::addRow("noise 1024 x 1024 in %d x %d, %s", window.width(), window.height(), step.second)
                << colour << micrograph << int(step.first) << 0 << 0 << window;
    // Odd sizes, whose edges fall inside device pixels at fractional scales,
    // and views stretched past the image by the window.
    QTest::newRow("noise 301 x 203 stretched, at the start") << colour << QSize(301, 203) << int(Step::Start) << 0 << 0 << QSize();
    QTest::newRow("noise 301 x 203, grown") << colour << QSize(301, 203) << int(Step::Grown) << 0 << 0 << QSize();
    QTest::newRow("noise 97 x 61 stretched over 700 x 480") << colour << QSize(97, 61) << int(Step::Start) << 0 << 0 << QSize(700, 480);
    QTest::newRow("places 1025 x 201, at the start") << places << QSize(1025, 201) << int(Step::Start) << 0 << 0 << QSize();
    QTest::newRow("places 1025 x 201, at the far corner") << places << QSize(1025, 201) << int(Step::FarCorner) << 0 << 0 << QSize();
    // Grey micrographs, 8 and 16 bits a pixel, as one grey channel: at the
    // image's size, stretched, and in tiles.
    for (const auto &depth : {std::make_pair(grey, "8-bit"), {grey16, "16-bit"}}) {
        QTest::addRow("%s grey noise 1024 x 1024, at the start", depth.second) << depth.first << micrograph << int(Step::Start) << 0 << 0 << QSize();
        QTest::addRow("%s grey noise 1024 x 1024, at the far corner", depth.second) << depth.first << micrograph << int(Step::FarCorner) << 0 << 0 << QSize();
        QTest::addRow("%s grey noise 97 x 61 stretched over 700 x 480", depth.second) << depth.first << QSize(97, 61) << int(Step::Start) << 0 << 0 << QSize(700, 480);
        QTest::addRow("%s grey noise 700 x 450 in tiles of 256, at the far corner", depth.second) << depth.first << QSize(700, 450) << int(Step::FarCorner) << 256 << int(Limit::Texture) << QSize();
    }
    // Tiles past a driver's largest texture: their seams in sight, and the
    // image's edges at its far corner.
    const int texture = int(Limit::Texture);
    QTest::newRow("noise 97 x 61 in tiles of 40, stretched over 700 x 480") << colour << QSize(97, 61) << int(Step::Start) << 40 << texture << QSize(700, 480);
    QTest::newRow("noise 700 x 450 in tiles of 256, at the start") << colour << QSize(700, 450) << int(Step::Start) << 256 << texture << QSize();
    QTest::newRow("noise 700 x 450 in tiles of 256, at the far corner") << colour << QSize(700, 450) << int(Step::FarCorner) << 256 << texture << QSize();
    // Past the driver's own largest texture and, on Qt 5, its largest
    // render target.
    QTest::newRow("places 16385 x 300, at the start") << places << QSize(16385, 300) << int(Step::Start) << 0 << 0 << QSize();
    QTest::newRow("places 16385 x 300, at the far corner") << places << QSize(16385, 300) << int(Step::FarCorner) << 0 << 0 << QSize();
    // At a driver's limits and one past them: the width is found for the
    // screen's scale, wider than any window the toolkit may give the view
    // for a moment, which would stretch it.
    for (const Limit limited : {Limit::Renderbuffer, Limit::Viewport})
        for (const int past : {0, 1})
            QTest::addRow("%s of 2000, %s", limited == Limit::Viewport ? "viewport" : "render targets", past ? "one past" : "at the limit")
                << places << QSize(past, 64) << int(Step::Start) << 2000 << int(limited) << QSize();
}

// Every seen device pixel of the view on the screen shows what the image
// gives there, filtered, edges included; past the driver's limits the view
// says why once and goes on.
void TestWindow::showsImage()
{
    QFETCH(int, pixels);
    QFETCH(QSize, image);
    QFETCH(int, step);
    QFETCH(int, limit);
    QFETCH(int, limited);
    QFETCH(QSize, windowSize);
    if (QGuiApplication::platformName().startsWith("wayland") && qEnvironmentVariableIsEmpty("OMBREL_SCREEN_GRAB"))
        QSKIP("This Wayland session's screen cannot be read back (tst_desktops reads the frames there)");
#if QT_VERSION < QT_VERSION_CHECK(6, 5, 0)
    if (QGuiApplication::platformName().startsWith("wayland") && qEnvironmentVariable("OMBREL_SESSION_SCALE").toDouble() != std::floor(qEnvironmentVariable("OMBREL_SESSION_SCALE").toDouble()))
        QSKIP("Qt before 6.5 draws a Wayland window at the next whole scale for the compositor to scale down: fractional scales need Debian 13's Qt 6.8 or later");
#endif
    const qreal ratio = qApp->devicePixelRatio();
    const bool drawableLimit = Limit(limited) == Limit::Renderbuffer || Limit(limited) == Limit::Viewport;
    // The widest image whose drawable is within the limit on this screen,
    // and one wider.
    for (int past = image.width(); drawableLimit && qRound((image.width() + 1 - past) * ratio) <= limit;)
        image.setWidth(image.width() + 1);
    const QImage::Format format = QImage::Format(pixels);
    const QImage shown = format == QImage::Format_Invalid ? Places(image).image() : noise(image.width(), image.height(), format, 4242);
    // BMP holds colour; grey goes in PNG, as micrographs come.
    QVERIFY(format == QImage::Format_RGB32 || format == QImage::Format_Invalid ? data->writeImage(shown)
                                                                               : shown.save(data->path() + "/fibre.bmp", "PNG"));
    QVERIFY(data->write("test.frag", showShader));
    // The view needs more than the driver makes where the whole image is the
    // drawable, as Qt 5's native window is; Qt 6 draws into what is seen.
    const int largest = drawableLimit ? limit : largestDrawableSide();
    const bool tooLarge = Toolkit::viewIsNativeWindow() && qRound(qMax(image.width(), image.height()) * ratio) > largest;

    fakeRenderbuffer = Limit(limited) == Limit::Renderbuffer ? limit : 0;
    fakeViewport = Limit(limited) == Limit::Viewport ? limit : 0;
    fakeTexture = Limit(limited) == Limit::Texture ? limit : 0;
    EntryPointPatch limits(epoxy_glGetIntegerv, "glGetIntegerv", limitedGetIntegerv);
    realGetIntegerv = limits.real;
    MessageLog log;
    Window window;
    window.move(0, 0);
    if (windowSize.isValid())
        window.resize(windowSize);
    else if (image.height() <= 300)
        window.resize(qMin(image.width() + 100, 600), image.height() + 80);
    if (Step(step) == Step::Start && image.width() < 400 && limit == 0 && !windowSize.isValid())
        window.resize(image.width() + 300, image.height() + 250);
    const int shownFrames = framegrabFrames();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window) && frameAfter(shownFrames));
    auto *view = window.findChild<GLWidget *>();
    auto *area = window.findChild<QScrollArea *>();
    auto *slider = window.findChild<QSlider *>();
    settleFrames();

    if (tooLarge) {
        // Said once, with what works; then each change is a frame, and
        // nothing of ours follows.
        const QString why = QString("is %1 x %2 pixels: on this screen its view needs").arg(image.width()).arg(image.height());
        QCOMPARE(log.matching(why).size(), 1);
        QVERIFY2(log.matching(why)[0].contains(QString("more than the %1 a side").arg(largest)), qPrintable(log.matching(why)[0]));
        QVERIFY(log.matching(why)[0].contains("What works: the Qt 6 build of Ombrel GL"));
        const int frames = framegrabFrames();
        for (int value : {10, 20, 30})
            slider->setValue(value);
        QCOMPARE(framegrabFrames(), frames + 3);
        QVERIFY2(log.matching("glError").isEmpty(), qPrintable(log.messages.join('\n')));
        // Nothing went up that the view cannot draw: no texture, no tile.
        view->makeCurrent();
        for (GLuint name = 1; name <= 64; ++name)
            QVERIFY2(!glIsTexture(name), qPrintable(QString("texture %1 exists").arg(name)));
        return;
    }

    const int frames = framegrabFrames();
    std::unique_ptr<QWidget> cover;
    switch (Step(step)) {
    case Step::Start:
    case Step::SliderToTop:
        break;
    case Step::Scrolled:
        area->horizontalScrollBar()->setValue(area->horizontalScrollBar()->maximum() / 3);
        area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum() / 2 + 1);
        break;
    case Step::FarCorner:
        area->horizontalScrollBar()->setValue(area->horizontalScrollBar()->maximum());
        area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum());
        break;
    case Step::Grown: {
        const QSize screen = window.screen()->availableGeometry().size();
        window.resize(qMin(image.width() + 300, screen.width() - 40), qMin(image.height() + 300, screen.height() - 40));
        break;
    }
    case Step::Covered:
        // Another window over the view's top-left corner, then gone.
        cover = std::make_unique<QWidget>();
        cover->setGeometry(QRect(view->mapToGlobal(QPoint(20, 20)), QSize(200, 150)));
        cover->show();
        QVERIFY(QTest::qWaitForWindowExposed(cover.get()));
        cover.reset();
        break;
    case Step::OffScreen:
        window.move(-300, -200);
        QTest::qWait(100);
        window.move(0, 0);
        break;
    case Step::Resized:
    case Step::Maximised:
        if (qEnvironmentVariableIsEmpty("OMBREL_WINDOW_SIZE"))
            QSKIP("This session's desktop cannot be asked to resize a window (KWin's and GNOME Shell's can)");
        QVERIFY(resizedByDesktop(Step(step) == Step::Resized ? "901x613" : "maximize"));
        break;
    }
    if (Step(step) == Step::SliderToTop)
        slider->setValue(100);
    else if (Step(step) != Step::Start)
        QTRY_VERIFY(framegrabFrames() > frames);
    settleFrames();
    QVERIFY2(log.matching("glError").isEmpty() && log.matching("its view needs").isEmpty(), qPrintable(log.messages.join('\n')));
    // The view is never smaller than the image: a window smaller than it
    // scrolls, a larger one stretches it.
    QCOMPARE(view->size(), image.expandedTo(area->viewport()->size()));
    QCOMPARE(area->horizontalScrollBar()->isVisible(), image.width() > area->viewport()->width());
    if (Step(step) == Step::FarCorner)
        QCOMPARE(view->geometry().bottomRight(), area->viewport()->rect().bottomRight());

    // Every device pixel of the viewport, against what the image gives there.
    const QImage shot = windowPicture(window);
    const qreal scale = window.windowHandle()->devicePixelRatio();
    const QRect seen = rounded(QRect(area->viewport()->mapTo(&window, QPoint(0, 0)), area->viewport()->size()), scale);
    const FilteredImage model(Step(step) == Step::SliderToTop ? filled(1, 1, qRgb(0, 0, 0)) : shown, imageBox(window, *area, *view));
    const Agreement agrees = agreement(shot, seen, model);
    qInfo("worst %.1f levels over %d device pixels", agrees.worst, agrees.pixels);
    QVERIFY2(agrees.holds(), qPrintable(agrees.problem));
    // Nothing the toolkit found wrong on the way, such as a stale device
    // pixel ratio after a resize.
    QVERIFY2(log.warnings.isEmpty(), qPrintable(log.warnings.join('\n')));
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
