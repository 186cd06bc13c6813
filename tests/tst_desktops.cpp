// The real ombrel-gl on the desktops people use: screens scaled by the
// toolkit, and Wayland sessions in a real compositor (weston's headless
// back end), with and without XWayland. Frames are read back from the
// process by a preloaded library, so what is checked is what it drew.

#include "appprocess.h"
#include "support.h"

#include <QColor>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cstdlib>
#include <iterator>

namespace {

const QRgb topLeft = qRgb(200, 40, 40);
const QRgb topRight = qRgb(200, 200, 40);
const QRgb bottomLeft = qRgb(200, 40, 200);
const QRgb bottomRight = qRgb(200, 200, 200);
const QRgb centre = qRgb(250, 120, 0);
const QRgb failed = qRgb(0, 0, 0);

// Four quadrants and a centre square, every red above 0.4: all of it shows
// at the starting threshold, none of it at 1.0. Small enough that the
// window's first size shows all of the view, which then stretches it.
const int imageSize = 256;
QImage quadrants()
{
    const int half = imageSize / 2;
    QImage image(imageSize, imageSize, QImage::Format_RGB32);
    for (int y = 0; y < imageSize; ++y)
        for (int x = 0; x < imageSize; ++x)
            image.setPixel(x, y, y < half ? (x < half ? topLeft : topRight) : (x < half ? bottomLeft : bottomRight));
    for (int y = half - half / 4; y < half + half / 4; ++y)
        for (int x = half - half / 4; x < half + half / 4; ++x)
            image.setPixel(x, y, centre);
    return image;
}

const char *const passShader =
    "uniform sampler2D Tekstur;\n"
    "uniform float Terskel;\n"
    "void main()\n"
    "{\n"
    "    vec4 t = texture2D(Tekstur, gl_TexCoord[0].st);\n"
    "    gl_FragColor = t.r > Terskel ? t : vec4(0.0, 0.0, 0.0, 1.0);\n"
    "}\n";

bool near(QRgb actual, QRgb expected)
{
    return std::abs(qRed(actual) - qRed(expected)) <= 3 && std::abs(qGreen(actual) - qGreen(expected)) <= 3
        && std::abs(qBlue(actual) - qBlue(expected)) <= 3;
}

QString describe(QRgb colour)
{
    return QString("(%1, %2, %3)").arg(qRed(colour)).arg(qGreen(colour)).arg(qBlue(colour));
}

// Whether the 2 x 2 block at (x, y) holds only what the view may draw: the
// image's colours and the clear colour; black too when all should fail
// (black is also what lies outside a window in a frame read back whole).
bool drawnByView(const QImage &frame, int x, int y, bool failing)
{
    const QRgb colours[] = {topLeft, topRight, bottomLeft, bottomRight, centre, QColor(Qt::darkGray).rgb(), failed};
    const auto end = std::end(colours) - (failing ? 0 : 1);
    for (int dy = 0; dy < 2; ++dy)
        for (int dx = 0; dx < 2; ++dx) {
            const QRgb pixel = frame.pixel(x + dx, y + dy);
            if (std::none_of(std::begin(colours), end, [pixel](QRgb c) { return near(pixel, c); }))
                return false;
        }
    return true;
}

// The view's part of a frame. Under Qt 5 the view swaps its own native
// window, so that is the whole frame; under Qt 6 the frame is the whole
// window, and the view is the box of what it can draw (the image's colours,
// the clear colour), counting only 2 x 2 blocks so that thin lines of the
// window's other widgets do not count.
QImage viewPart(const QImage &frame, bool failing = false)
{
    QRect box;
    for (int y = 0; y + 1 < frame.height(); ++y)
        for (int x = 0; x + 1 < frame.width(); ++x)
            if (drawnByView(frame, x, y, failing))
                box |= QRect(x, y, 2, 2);
    return box.isEmpty() ? QImage() : frame.copy(box);
}

// Empty when the frame shows the whole image upright over all of the view:
// the colours near the four corners and at the centre, and no clear colour
// anywhere on a grid over the view. Otherwise what is wrong.
QString coverage(const QImage &whole)
{
    if (whole.isNull())
        return "no frame";
    const QImage frame = viewPart(whole);
    if (frame.isNull())
        return "nothing of the view in the frame";
    const int w = frame.width();
    const int h = frame.height();
    const struct {
        int x, y;
        QRgb expected;
    } checks[] = {{w * 3 / 100, h * 3 / 100, topLeft},
                  {w - 1 - w * 3 / 100, h * 3 / 100, topRight},
                  {w * 3 / 100, h - 1 - h * 3 / 100, bottomLeft},
                  {w - 1 - w * 3 / 100, h - 1 - h * 3 / 100, bottomRight},
                  {w / 2, h / 2, centre}};
    for (const auto &check : checks) {
        const QRgb actual = frame.pixel(check.x, check.y);
        if (!near(actual, check.expected))
            return QString("%1 x %2 frame, at (%3, %4): %5, expected %6")
                .arg(w).arg(h).arg(check.x).arg(check.y).arg(describe(actual), describe(check.expected));
    }
    const QRgb grey = QColor(Qt::darkGray).rgb();
    for (int y = 0; y < h; y += qMax(1, h / 40))
        for (int x = 0; x < w; x += qMax(1, w / 40))
            if (near(frame.pixel(x, y), grey))
                return QString("%1 x %2 frame: clear colour at (%3, %4)").arg(w).arg(h).arg(x).arg(y);
    return QString();
}

bool allFailed(const QImage &whole)
{
    const QImage frame = viewPart(whole, true);
    return !frame.isNull() && near(frame.pixel(frame.width() / 2, frame.height() / 2), failed)
        && near(frame.pixel(frame.width() / 10, frame.height() / 10), failed);
}

// A weston compositor on its headless back end, in a private runtime
// folder, optionally with XWayland; stopped when it goes.
class Weston
{
public:
    explicit Weston(bool xwayland)
    {
        socket = QString("ombrel-test-%1-%2").arg(QCoreApplication::applicationPid()).arg(++count());
        const QString log = runtime.path() + "/weston.log";
        // As large as the X server the other tests use, so that scaled windows fit.
        QStringList arguments{"--backend=headless-backend.so", "--width=2560", "--height=1600", "--socket=" + socket,
                              "--log=" + log, "--idle-time=0"};
        if (xwayland)
            arguments << "--xwayland";
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtime.path());
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET"})
            env.remove(name);
        process.setProcessEnvironment(env);
        process.start("weston", arguments);
        QElapsedTimer timer;
        timer.start();
        const QRegularExpression announced("xserver listening on display (:[0-9]+)");
        while (timer.elapsed() < 20000 && process.state() != QProcess::NotRunning) {
            QFile file(log);
            const QString text = file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
            const QRegularExpressionMatch match = announced.match(text);
            if (match.hasMatch())
                display = match.captured(1);
            if (QFileInfo::exists(runtime.path() + '/' + socket) && (!xwayland || !display.isEmpty())) {
                ready = true;
                return;
            }
            QTest::qWait(50);
        }
    }
    ~Weston()
    {
        process.terminate();
        if (!process.waitForFinished(10000))
            process.kill();
        process.waitForFinished();
    }
    // The environment a program of this session starts with: a Wayland
    // session, the XWayland display where there is one, no platform chosen.
    QProcessEnvironment session() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtime.path());
        env.insert("XDG_SESSION_TYPE", "wayland");
        env.insert("WAYLAND_DISPLAY", socket);
        env.remove("QT_QPA_PLATFORM");
        if (display.isEmpty())
            env.remove("DISPLAY");
        else
            env.insert("DISPLAY", display);
        return env;
    }

    bool ready = false;
    QString display;

private:
    static int &count()
    {
        static int n = 0;
        return n;
    }
    QTemporaryDir runtime;
    QString socket;
    QProcess process;
};

const char *const waylandReport = "runs on Wayland (platform \"wayland\"), where its view cannot show";

} // namespace

class TestDesktops : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void coversViewWhenScaled_data();
    void coversViewWhenScaled();
    void waylandSessionShowsViewThroughXWayland();
    void waylandWithoutXSaysWhy_data();
    void waylandWithoutXSaysWhy();
    void drawsOnWayland_data();
    void drawsOnWayland();

private:
    DataDir *data = nullptr;
};

void TestDesktops::init()
{
    data = new DataDir;
    QVERIFY(data->writeImage(quadrants()));
    QVERIFY(data->write("test.frag", passShader));
}

void TestDesktops::cleanup()
{
    delete data;
    data = nullptr;
}

void TestDesktops::coversViewWhenScaled_data()
{
    QTest::addColumn<QString>("variable");
    QTest::addColumn<QString>("value");
    QTest::addColumn<double>("scale");

    QTest::newRow("scale 1") << QString() << QString() << 1.0;
    QTest::newRow("QT_SCALE_FACTOR=2") << "QT_SCALE_FACTOR" << "2" << 2.0;
    QTest::newRow("QT_SCALE_FACTOR=1.5") << "QT_SCALE_FACTOR" << "1.5" << 1.5;
    QTest::newRow("QT_SCREEN_SCALE_FACTORS=2") << "QT_SCREEN_SCALE_FACTORS" << "2" << 2.0;
}

void TestDesktops::coversViewWhenScaled()
{
    QFETCH(QString, variable);
    QFETCH(QString, value);
    QFETCH(double, scale);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!variable.isEmpty())
        env.insert(variable, value);
    AppProcess app(data->path(), env, {}, true);
    // The first swaps may come before the first paint; the one that counts
    // is the frame the window settles on.
    QImage frame;
    QString problem;
    QTRY_VERIFY2_WITH_TIMEOUT((problem = coverage(frame = app.lastFrame())).isEmpty(), qPrintable(problem), 20000);
    // The view shows the image at its own size at least, scaled with the
    // screen (less the outermost pixels, which blend with the opposite edge).
    const QImage view = viewPart(frame);
    QVERIFY2(view.width() >= qRound(imageSize * scale) - 2 && view.height() >= qRound(imageSize * scale) - 2,
             qPrintable(QString("%1 x %2").arg(view.width()).arg(view.height())));
    QVERIFY(app.closeWindow());
    QVERIFY(app.finished());
    QCOMPARE(app.exitCode(), 0);
}

void TestDesktops::waylandSessionShowsViewThroughXWayland()
{
#if QT_VERSION_MAJOR >= 6
    QSKIP("Qt 6 takes the toolkit's own choice, Wayland, and draws there (drawsOnWayland)");
#endif
    Weston weston(true);
    QVERIFY2(weston.ready, "weston with XWayland did not start");
    AppProcess app(data->path(), weston.session(), {}, true);
    int frames = 0;
    QString problem;
    QTRY_VERIFY2_WITH_TIMEOUT((problem = coverage(app.lastFrame(&frames))).isEmpty(), qPrintable(problem), 20000);

    // The slider, reached as from the keyboard: the scroll area takes the
    // first Tab, the slider the second; End moves it to 100.
    for (const char *key : {"Tab", "Tab", "End"})
        QVERIFY(app.runOnDisplay("xdotool", {"search", "--onlyvisible", "--pid", QString::number(app.process.processId()),
                                             "--name", "^Ombrel GL$", "key", "--window", "%1", key}));
    int later = 0;
    QTRY_VERIFY_WITH_TIMEOUT(allFailed(app.lastFrame(&later)) && later > frames, 20000);

    QVERIFY(app.closeWindow());
    QVERIFY(app.finished());
    QCOMPARE(app.exitCode(), 0);
    QVERIFY2(!app.errors().contains(waylandReport), qPrintable(app.errors()));
}

void TestDesktops::waylandWithoutXSaysWhy_data()
{
    QTest::addColumn<bool>("xwayland");
    QTest::addColumn<QString>("platform");
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("no X server") << false << QString() << QStringList();
    QTest::newRow("QT_QPA_PLATFORM=wayland chosen by hand") << true << QString("wayland") << QStringList();
    QTest::newRow("-platform wayland chosen by hand") << true << QString() << QStringList{"-platform", "wayland"};
}

void TestDesktops::waylandWithoutXSaysWhy()
{
#if QT_VERSION_MAJOR >= 6
    QSKIP("Qt 6 draws on Wayland: there is nothing to say (drawsOnWayland)");
#endif
    QFETCH(bool, xwayland);
    QFETCH(QString, platform);
    QFETCH(QStringList, arguments);
    Weston weston(xwayland);
    QVERIFY2(weston.ready, "weston did not start");
    QProcessEnvironment env = weston.session();
    if (!platform.isEmpty())
        env.insert("QT_QPA_PLATFORM", platform);
    AppProcess app(data->path(), env, arguments);
    QVERIFY2(app.waitForError(waylandReport), qPrintable(app.errors()));
    // It keeps running: nothing crashes for want of a view.
    QTest::qWait(1500);
    QVERIFY2(app.running(), qPrintable(app.errors()));
    QCOMPARE(app.errors().count(waylandReport), 1);
}

void TestDesktops::drawsOnWayland_data()
{
    QTest::addColumn<bool>("xwayland");
    QTest::addColumn<QString>("scale");

    QTest::newRow("with XWayland") << true << QString();
    QTest::newRow("no X server") << false << QString();
    QTest::newRow("no X server, scale 2") << false << QString("2");
}

void TestDesktops::drawsOnWayland()
{
#if QT_VERSION_MAJOR < 6
    QSKIP("Qt 5's view is a native child window, which its Wayland platform never shows");
#endif
    QFETCH(bool, xwayland);
    QFETCH(QString, scale);
    Weston weston(xwayland);
    QVERIFY2(weston.ready, "weston did not start");
    QProcessEnvironment env = weston.session();
    // Frames are read back whole; the toolkit's window decoration is no
    // part of what is checked.
    env.insert("QT_WAYLAND_DISABLE_WINDOWDECORATION", "1");
    if (!scale.isEmpty())
        env.insert("QT_SCALE_FACTOR", scale);
    AppProcess app(data->path(), env, {}, true);
    QString problem;
    QTRY_VERIFY2_WITH_TIMEOUT((problem = coverage(app.lastFrame())).isEmpty(), qPrintable(problem + app.errors()), 20000);
    QVERIFY(app.running());
    QVERIFY2(!app.errors().contains("Wayland"), qPrintable(app.errors()));
}

QTEST_MAIN(TestDesktops)
#include "tst_desktops.moc"
