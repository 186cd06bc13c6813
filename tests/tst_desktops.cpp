// The real ombrel-gl on scaled screens and in weston Wayland sessions, with
// and without XWayland: on X what the server shows, else frames read back.

#include <epoxy/gl.h>

#include "appprocess.h"
#include "render/toolkit.h"
#include "support.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

const QRgb topLeft = qRgb(200, 40, 40);
const QRgb topRight = qRgb(200, 200, 40);
const QRgb bottomLeft = qRgb(200, 40, 200);
const QRgb bottomRight = qRgb(200, 200, 200);
const QRgb centre = qRgb(250, 120, 0);
const QRgb failed = qRgb(0, 0, 0);

// An image whose texels tell their places: the index in the top bits of
// RGB, check bits that the window's greys hardly match in the rest.
class Places
{
public:
    explicit Places(const QSize &size) : size(size)
    {
        while (qint64(1) << indexBits < qint64(size.width()) * size.height())
            ++indexBits;
    }
    QImage image() const
    {
        QImage image(size, QImage::Format_RGB32);
        for (int v = 0; v < size.height(); ++v)
            for (int u = 0; u < size.width(); ++u) {
                const quint32 index = quint32(v) * size.width() + u;
                image.setPixel(u, v, 0xff000000u | index << (24 - indexBits) | check(u, v));
            }
        return image;
    }
    bool placeOf(QRgb colour, QPoint *place) const
    {
        const quint32 index = (colour & 0xffffffu) >> (24 - indexBits);
        *place = QPoint(int(index % size.width()), int(index / size.width()));
        return index < quint32(size.width()) * size.height() && (colour & checkMask()) == check(place->x(), place->y());
    }
    const QSize size;

private:
    quint32 checkMask() const { return (1u << (24 - indexBits)) - 1; }
    quint32 check(int u, int v) const { return quint32(u * 7 + v * 3 + 5) & checkMask(); }
    int indexBits = 1;
};

// Each texel whole (black with the slider at its top), sampled at its
// centre: exact at any scale. Tiles have coordinates of their own, so an
// image of tiles is passed on as sampled, exact where a texel is a pixel.
QByteArray placesShader(const QSize &image, bool tiled)
{
    const QByteArray size = QString("vec2(%1.0, %2.0)").arg(image.width()).arg(image.height()).toLatin1();
    return "uniform sampler2D Tekstur;\n"
           "uniform float Terskel;\n"
           "void main()\n"
           "{\n"
           "    vec2 texel = " + (tiled ? QByteArray("gl_TexCoord[0].st") : "(floor(gl_TexCoord[0].st * " + size + ") + 0.5) / " + size) + ";\n"
           "    gl_FragColor = Terskel > 0.99 ? vec4(0.0, 0.0, 0.0, 1.0) : texture2D(Tekstur, texel);\n"
           "}\n";
}

// Where places of start's row and column end, right and down (a grey of
// the window may tell a place, but not one of that row or column).
QPoint placesEnd(const Places &places, const QImage &shot, const QPoint &start)
{
    QPoint at, place, end = start;
    places.placeOf(shot.pixel(start), &at);
    while (end.x() + 1 < shot.width() && places.placeOf(shot.pixel(end.x() + 1, start.y()), &place) && place.y() == at.y())
        end.rx()++;
    while (end.y() + 1 < shot.height() && places.placeOf(shot.pixel(start.x(), end.y() + 1), &place) && place.x() == at.x())
        end.ry()++;
    return end;
}

// The seen box of the view, from where it shows texel (0, 0) to where its
// places end; null when no pixel shows (0, 0).
QRect placesBox(const Places &places, const QImage &shot)
{
    for (int y = 0; y + 1 < shot.height(); ++y)
        for (int x = 0; x + 1 < shot.width(); ++x) {
            QPoint at, right, below;
            if (!places.placeOf(shot.pixel(x, y), &at) || at != QPoint(0, 0) || !places.placeOf(shot.pixel(x + 1, y), &right)
                || !places.placeOf(shot.pixel(x, y + 1), &below) || right.y() != 0 || below.x() != 0)
                continue;
            return QRect(QPoint(x, y), placesEnd(places, shot, QPoint(x, y)));
        }
    return QRect();
}

// Empty when each pixel of the box shows its place: the top-left's plus its
// distance in texels (perPixel a pixel), one texel of slack; else what is wrong.
QString wrongPlaces(const Places &places, const QImage &shot, const QRect &box, QPointF perPixel, QPoint *origin)
{
    if (shot.isNull() || !shot.rect().contains(box))
        return "no screenshot of the window";
    if (!places.placeOf(shot.pixel(box.topLeft()), origin))
        return QString("the view's top-left pixel shows no place: %1").arg(describe(shot.pixel(box.topLeft())));
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x) {
            const QPoint expected = *origin + QPoint(int((x - box.left() + 0.5) * perPixel.x()),
                                                     int((y - box.top() + 0.5) * perPixel.y()));
            QPoint place;
            const bool any = places.placeOf(shot.pixel(x, y), &place);
            if (!any || std::abs(place.x() - expected.x()) > 1 || std::abs(place.y() - expected.y()) > 1)
                return QString("at (%1, %2) of the window: %3, expected place (%4, %5) from the view's (%6, %7)")
                    .arg(x).arg(y)
                    .arg(any ? QString("place (%1, %2)").arg(place.x()).arg(place.y()) : describe(shot.pixel(x, y)))
                    .arg(expected.x()).arg(expected.y()).arg(origin->x()).arg(origin->y());
        }
    return QString();
}

// Empty when the frame shows the whole image upright over all of the view
// (its box goes to box); otherwise what is wrong.
QString coverage(const Places &places, const QImage &frame, QRect *box = nullptr)
{
    const QRect found = placesBox(places, frame);
    if (found.isEmpty())
        return "no place of the image in the frame";
    const QSize size = places.size;
    QPoint origin, corner;
    const QString wrong = wrongPlaces(places, frame, found, QPointF(double(size.width()) / found.width(),
                                                                   double(size.height()) / found.height()), &origin);
    if (!wrong.isEmpty())
        return wrong;
    places.placeOf(frame.pixel(found.bottomRight()), &corner);
    if (corner != QPoint(size.width() - 1, size.height() - 1))
        return QString("the view's %1 x %2 pixels end at place (%3, %4)").arg(found.width()).arg(found.height()).arg(corner.x()).arg(corner.y());
    if (box)
        *box = found;
    return QString();
}

// Asks a server the test started to end, and ends it when it will not.
void stopServer(QProcess &process)
{
        process.terminate();
        if (!process.waitForFinished(10000))
            process.kill();
        process.waitForFinished();
}

// An X server of the test's own (Xvfb), so that what the screen shows of a
// window is that window's alone, whatever suites run beside.
class XServer
{
public:
    XServer()
    {
        // Nothing reads its warnings (xkbcomp's, one batch a client): into a
        // pipe left unread they would fill it and stop the server.
        process.setStandardErrorFile(QProcess::nullDevice());
        // No reset when the last client goes: the test's own xdotool may be
        // that client.
        process.start("Xvfb", {"-displayfd", "1", "-noreset", "-screen", "0", "2560x1600x24", "+extension", "GLX", "-nolisten", "tcp"});
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 20000 && process.state() != QProcess::NotRunning && !process.canReadLine())
            process.waitForReadyRead(100);
        const QByteArray line = process.readLine().trimmed();
        bool number = false;
        line.toInt(&number);
        if (!number)
            return;
        // A viewer started at once was now and then refused (cause not
        // found): the display counts once a client of its own gets through.
        while (timer.elapsed() < 20000 && process.state() != QProcess::NotRunning) {
            QProcess probe;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("DISPLAY", ':' + QString::fromLatin1(line));
            probe.setProcessEnvironment(env);
            probe.start("xdotool", {"getdisplaygeometry"});
            if (probe.waitForFinished(5000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0) {
                display = ':' + QString::fromLatin1(line);
                return;
            }
            QTest::qWait(100);
        }
    }
    ~XServer() { stopServer(process); }
    QProcessEnvironment session() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", display);
        for (const char *name : {"WAYLAND_DISPLAY", "WAYLAND_SOCKET", "QT_QPA_PLATFORM", "XAUTHORITY"})
            env.remove(name);
        return env;
    }

    QString display;

private:
    QProcess process;
};

// A weston compositor on its headless back end, in a private runtime
// folder, optionally with XWayland; stopped when it goes.
class Weston
{
public:
    explicit Weston(bool xwayland)
    {
        // The runtime folder is the session's own, and so the socket in it.
        socket = "ombrel-test";
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
    ~Weston() { stopServer(process); }
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
    QTemporaryDir runtime;
    QString socket;
    QProcess process;
};

// The steps of a person with a viewer on an image naming its places.
enum class Step { Covers, SliderToTop, Start, Wheel, Keys, ScrollBar, FarCorner, Covered, OffScreen, Grown, SaysWhy, Closes };

// A viewer of places on a screen of its own (Xvfb, or weston with XWayland),
// shared by the rows of that screen and image, each a step from the last.
class PlacesViewer
{
public:
    // The screen's scale is QT_SCALE_FACTOR's, or "VARIABLE=value" another's.
    PlacesViewer(const QString &screen, bool xwayland, const QSize &size)
        : places(size), scale(screen.section('=', -1).toDouble()), xwayland(xwayland)
    {
        QVERIFY(folder.isValid() && places.image().save(folder.filePath("fibre.bmp"), "BMP"));
        QVERIFY(writeFile(folder.filePath("test.frag"), placesShader(size, qMax(size.width(), size.height()) > glLimit(GL_MAX_TEXTURE_SIZE))));
        QProcessEnvironment env;
        if (xwayland) {
            weston.reset(new Weston(true));
            QVERIFY2(weston->ready, "weston with XWayland did not start");
            env = weston->session();
        } else {
            x.reset(new XServer);
            QVERIFY2(!x->display.isEmpty(), "Xvfb did not start");
            env = x->session();
        }
        env.insert(screen.contains('=') ? screen.section('=', 0, 0) : QString("QT_SCALE_FACTOR"), screen.section('=', -1));
        app.reset(new AppProcess(folder.path(), env));
        QVERIFY2(app->settles([&] { return !(id = app->windowId()).isEmpty(); }), qPrintable(app->report()));
        started = true;
    }
    // Each step is given time to settle; a picture that stays wrong fails.
    bool settles(const std::function<bool()> &check, int ms = 20000) { return app->settles(check, ms); }
    // Sends the arguments to the window until the view shows what is asked:
    // a loaded X server may drop a pointer event or a burst of keys.
    bool sendUntil(const QStringList &arguments, const std::function<bool()> &done)
    {
        return settles([&] { return onWindow(arguments) && app->settles(done, 2000); }, 90000);
    }
    // Whether a new screenshot (or the last) shows each pixel's place in the
    // box: stretched along an axis seen whole, else a texel a device pixel. The
    // box is measured anew, within 2 pixels: Qt 5.15 now and then places the
    // scrolled view a device column off at scale 2.
    bool showsPlaces(bool anew = true)
    {
        if (anew)
            shot = app->screenshot();
        const QPointF perPixel(stretched(places.size.width(), box.width()), stretched(places.size.height(), box.height()));
        const QRect measured(box.topLeft(), placesEnd(places, shot, box.topLeft()));
        const bool within = std::abs(measured.width() - box.width()) <= 2 && std::abs(measured.height() - box.height()) <= 2;
        return (problem = wrongPlaces(places, shot, within ? measured : box, perPixel, &origin)).isEmpty();
    }
    double stretched(int side, int seen) const { return side * scale <= seen + 2 ? double(side) / seen : 1 / scale; }
    // Whether the view's bottom-right corner, where its places end, shows
    // the image's bottom-right texel.
    bool atCorner()
    {
        return showsPlaces() && places.placeOf(shot.pixel(placesEnd(places, shot, box.topLeft())), &corner)
            && corner == QPoint(places.size.width() - 1, places.size.height() - 1);
    }
    bool onWindow(QStringList arguments) { return app->runOnDisplay("xdotool", arguments.replaceInStrings("%w", id)); }
    bool keysUntil(const QStringList &keys, const std::function<bool()> &done)
    {
        return sendUntil(QStringList{"key", "--window", "%w", "--repeat", "300", "--delay", "2"} + keys, done);
    }
    QString report() { return problem + QString(" (corner at (%1, %2))").arg(corner.x()).arg(corner.y()) + app->report(); }

    const Places places;
    const double scale;
    const bool xwayland;
    bool started = false;
    QTemporaryDir folder;
    std::unique_ptr<Weston> weston;
    std::unique_ptr<XServer> x;
    std::unique_ptr<AppProcess> app;
    QString id;
    QRect box;
    QImage shot;
    QPoint origin;
    QPoint corner;
    QString problem;
};

const char *const waylandReport = "runs on Wayland (platform \"wayland\"), where its view cannot show";

} // namespace

class TestDesktops : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void showsEachPlaceWhereverScrolled_data();
    void showsEachPlaceWhereverScrolled();
    void waylandWithoutXSaysWhy_data();
    void waylandWithoutXSaysWhy();
    void drawsOnWayland_data();
    void drawsOnWayland();

private:
    DataDir *data = nullptr;
    const Places smallPlaces{QSize(256, 256)};
    std::unique_ptr<PlacesViewer> viewer;
};

void TestDesktops::init()
{
    if (QByteArray(QTest::currentTestFunction()) != "showsEachPlaceWhereverScrolled")
        viewer.reset();
    data = new DataDir;
    // Small enough that the window's first size shows all of the view,
    // which then stretches it.
    QVERIFY(data->writeImage(smallPlaces.image()));
    QVERIFY(data->write("test.frag", placesShader(smallPlaces.size, false)));
}

void TestDesktops::cleanup()
{
    delete data;
    data = nullptr;
}

void TestDesktops::showsEachPlaceWhereverScrolled_data()
{
    QTest::addColumn<QString>("scale");
    QTest::addColumn<bool>("xwayland");
    QTest::addColumn<QSize>("image");
    QTest::addColumn<int>("step");
    // Small enough that the window's first size shows all of the view,
    // which then stretches it. The first size need not hold it scaled (Qt 5
    // under QT_SCREEN_SCALE_FACTORS): the window is made room for it.
    for (const char *screen : {"1", "2", "1.5", "QT_SCREEN_SCALE_FACTORS=2"})
        QTest::addRow("scale %s: covers the view", screen) << QString(screen) << false << QSize(256, 256) << int(Step::Covers);
    // Under XWayland, as a session's own program; the slider reached as from
    // the keyboard.
    for (const auto &step : {std::make_pair(Step::Covers, "covers the view"), {Step::SliderToTop, "slider to the top"},
                             {Step::Closes, "closes with status 0"}})
        QTest::addRow("XWayland, small image: %s", step.second) << QString("1") << true << QSize(256, 256) << int(step.first);
    const QSize micrograph(1024, 1024);
    for (const char *scale : {"1", "1.5", "2"})
        for (const auto &step : {std::make_pair(Step::Start, "at the start"), {Step::Wheel, "wheel"}, {Step::Keys, "keys"},
                                 {Step::ScrollBar, "scroll bar"}, {Step::FarCorner, "keys to the far corner"},
                                 {Step::OffScreen, "off the screen and back"}, {Step::Covered, "covered and uncovered"},
                                 {Step::Grown, "grown"}, {Step::Closes, "closes with status 0"}})
            QTest::addRow("scale %s: %s", scale, step.second) << QString(scale) << false << micrograph << int(step.first);
    // Pointer events reach the window only on an X server of its own, and
    // weston places XWayland's windows itself, partly off its output.
    for (const auto &step : {std::make_pair(Step::Start, "at the start"), {Step::Keys, "keys"}, {Step::FarCorner, "keys to the far corner"},
                            {Step::Closes, "closes with status 0"}})
        QTest::addRow("Wayland session through XWayland: %s", step.second) << QString("1") << true << micrograph << int(step.first);
    // Past the driver's largest texture and viewport (16384 here), or past
    // what the toolkit can make a view of: drawn right, or said why not.
    const int largest = largestViewSide();
    for (const auto &large : {std::make_pair(QSize(16385, 300), "1"), {QSize(8193, 64), "2"}, {QSize(16385, 64), "2"}, {QSize(32768, 16), "1"}}) {
        const QString name = QString("%1 x %2, scale %3").arg(large.first.width()).arg(large.first.height()).arg(large.second);
        std::vector<std::pair<Step, const char *>> steps{{Step::Start, "at the start"}, {Step::FarCorner, "at the far end"}};
        if (qMax(large.first.width(), large.first.height()) * QString(large.second).toDouble() > largest)
            steps = {{Step::SaysWhy, "says why not"}};
        steps.push_back({Step::Closes, "closes with status 0"});
        for (const auto &step : steps)
            QTest::newRow(qPrintable(name + ": " + step.second)) << QString(large.second) << false << large.first << int(step.first);
    }
}

// The view draws only what is seen; wherever it is scrolled, covered, moved
// or grown, every pixel still shows its own place, nothing undrawn or stale.
void TestDesktops::showsEachPlaceWhereverScrolled()
{
    QFETCH(QString, scale);
    QFETCH(bool, xwayland);
    QFETCH(QSize, image);
    QFETCH(int, step);
    if (xwayland && !Toolkit::viewIsNativeWindow())
        QSKIP("Qt 6 takes the toolkit's own choice, Wayland, where no X client can scroll it (drawsOnWayland)");
    if (Step(step) == Step::Start || Step(step) == Step::SaysWhy || Step(step) == Step::Covers)
        viewer.reset(new PlacesViewer(scale, xwayland, image));
    QVERIFY2(viewer && viewer->started && viewer->places.size == image, "the row's viewer did not start");
    PlacesViewer &v = *viewer;
    AppProcess &app = *v.app;
    const double texelsPerPixel = 1.0 / v.scale;

    switch (Step(step)) {
    case Step::Covers: {
        // Room for the whole image, stretched over the view; under XWayland
        // Qt 5 may leave the scroll area's native window misplaced until a resize.
        QVERIFY(v.onWindow({"windowsize", "%w", xwayland ? "600" : "1200", xwayland ? "600" : "1000"}));
        QVERIFY2(v.settles([&] { return (v.problem = coverage(v.places, v.shot = app.screenshot(), &v.box)).isEmpty(); }, 20000),
                 qPrintable(v.report()));
        QVERIFY2(v.box.width() >= qRound(image.width() * v.scale) - 2 && v.box.height() >= qRound(image.height() * v.scale) - 2,
                 qPrintable(QString("%1 x %2").arg(v.box.width()).arg(v.box.height())));
        QVERIFY2(!app.errors().contains(waylandReport), qPrintable(app.report()));
        break;
    }
    case Step::SliderToTop:
        // The scroll area takes the first Tab, the slider the second.
        QVERIFY(v.onWindow({"key", "--window", "%w", "Tab", "Tab", "End"}));
        QVERIFY2(v.settles([&] {
            v.shot = app.screenshot();
            return v.shot.rect().contains(v.box) && placesBox(v.places, v.shot).isEmpty() && v.shot.pixel(v.box.center()) == qRgb(0, 0, 0);
        }), qPrintable(app.report()));
        break;
    case Step::Start:
        // A wide image shows a texel a pixel only in a viewport no taller than it.
        if (image.width() > 1024)
            QVERIFY(v.onWindow({"windowsize", "%w", "900", "300"}));
        if (xwayland) {
            // The scroll area's native window may stay at its default geometry
            // until the window is next resized (waylandSessionShowsViewThroughXWayland):
            // its scroll range then stops short of the image's far corner. The
            // window only grows, larger than its first size, so a view measured
            // before the resize shows is a part of the view after it.
            QVERIFY(v.onWindow({"windowsize", "%w", "900", "600"}));
        }
        // Measured, and checked in the same screenshot, once the window has its size.
        QVERIFY2(v.settles([&] {
            v.box = placesBox(v.places, v.shot = app.screenshot());
            return !v.box.isEmpty() && (image.width() <= 1024 || v.shot.height() <= 300) && v.showsPlaces(false);
        }, 20000), qPrintable(v.report()));
        QCOMPARE(v.origin, QPoint(0, 0));
        // The image is larger than the window: the view scrolls.
        QVERIFY2(v.box.width() * texelsPerPixel < image.width() - 100, qPrintable(QString("%1 x %2").arg(v.box.width()).arg(v.box.height())));
        QVERIFY2(image.width() > 1024 || v.box.height() * texelsPerPixel < image.height() - 100,
                 qPrintable(QString("%1 x %2").arg(v.box.width()).arg(v.box.height())));
        break;
    case Step::Wheel: {
        // Three notches down.
        const int before = v.origin.y();
        v.sendUntil({"mousemove", "--window", "%w", QString::number(v.box.center().x()), QString::number(v.box.center().y()),
                     "click", "--repeat", "3", "5"}, [&] { return v.showsPlaces() && v.origin.y() > before; });
        QVERIFY2(v.showsPlaces() && v.origin.y() > before, qPrintable(v.report()));
        QCOMPARE(v.origin.x(), 0);
        break;
    }
    case Step::Keys: {
        // The scroll area takes the first Tab; three steps right, a page down.
        const int before = v.origin.y();
        QVERIFY(v.onWindow({"key", "--window", "%w", "Tab", "Right", "Right", "Right", "Next"}));
        QVERIFY2(v.settles([&] { return v.showsPlaces() && v.origin.x() > 0 && v.origin.y() > before; }), qPrintable(v.report()));
        break;
    }
    case Step::ScrollBar: {
        // A click on its track below the handle pages down.
        const int before = v.origin.y();
        v.sendUntil({"mousemove", "--window", "%w", QString::number(v.box.right() + 1 + qRound(6 * v.scale)),
                     QString::number(v.box.bottom() - qRound(30 * v.scale)), "click", "1"},
                    [&] { return v.showsPlaces() && v.origin.y() > before; });
        QVERIFY2(v.showsPlaces() && v.origin.y() > before, qPrintable(v.report()));
        break;
    }
    case Step::FarCorner:
        // Focus from the keys' step or, in a fresh viewer, a first Tab; its box
        // is measured again, should its window have changed since.
        if (v.origin == QPoint(0, 0)) {
            QVERIFY(v.onWindow({"key", "--window", "%w", "Tab"}));
            QVERIFY2(v.settles([&] { return !(v.box = placesBox(v.places, v.shot = app.screenshot())).isEmpty() && v.showsPlaces(false); }),
                     qPrintable(v.report()));
        }
        v.keysUntil({"Right", "Next"}, [&] { return v.atCorner(); });
        QVERIFY2(v.atCorner(), qPrintable(v.report()));
        break;
    case Step::Covered: {
        // A second viewer, on a plain image, mapped over the first one's
        // top-left corner; the first is back at the screen's (0, 0).
        const QPoint before = v.origin;
        DataDir plainDir;
        QVERIFY(plainDir.writeImage(filled(300, 300, qRgb(90, 90, 90))));
        QVERIFY(plainDir.write("test.frag", scaledShader()));
        {
            AppProcess cover(plainDir.path(), app.process.processEnvironment());
            QVERIFY2(cover.waitForWindow(), qPrintable(cover.report()));
            // Tried again while the new window is still being set up.
            QVERIFY(cover.settles([&] {
                return cover.runOnDisplay("xdotool", {"windowmove", cover.windowId(), QString::number(v.box.left()),
                                                     QString::number(v.box.top()), "windowraise", cover.windowId()});
            }));
            QVERIFY2(v.settles([&] { return !v.showsPlaces(); }), qPrintable(app.report()));
            QVERIFY(cover.closeWindow());
            QVERIFY(cover.finished());
        }
        QVERIFY2(v.settles([&] { return v.showsPlaces(); }), qPrintable(v.report()));
        QCOMPARE(v.origin, before);
        break;
    }
    case Step::OffScreen: {
        const QPoint before = v.origin;
        QVERIFY(v.onWindow({"windowmove", "%w", "-300", "-200"}));
        QTest::qWait(300);
        QVERIFY(v.onWindow({"windowmove", "%w", "0", "0"}));
        QVERIFY2(v.settles([&] { return v.showsPlaces(); }), qPrintable(v.report()));
        QCOMPARE(v.origin, before);
        break;
    }
    case Step::Grown: {
        // Back to the image's top-left corner, then grown: larger than the
        // image where the screen allows, and the view stretches over the
        // viewport, each texel over more than one pixel; otherwise as large as
        // the screen, where the view stays put and more of it comes into sight.
        v.keysUntil({"Left", "Prior"}, [&] { return v.showsPlaces() && v.origin == QPoint(0, 0); });
        QVERIFY2(v.origin == QPoint(0, 0), qPrintable(v.report()));
        bool ok = false;
        const QList<QByteArray> screen = app.outputOnDisplay("xdotool", {"getdisplaygeometry"}, &ok).trimmed().split(' ');
        QVERIFY(ok && screen.size() == 2);
        const int grown = qMin(qRound((image.width() + 300) * v.scale), qMin(screen[0].toInt(), screen[1].toInt()) - 40);
        const bool stretches = grown > image.width() * v.scale + 100;
        const QRect before = v.box;
        QVERIFY(v.onWindow({"windowmove", "%w", "0", "0", "windowsize", "%w", QString::number(grown), QString::number(grown)}));
        // The box is found anew in each screenshot: one taken while the window
        // still grows may show less of the view.
        QVERIFY2(v.settles([&] {
            v.box = placesBox(v.places, v.shot = app.screenshot());
            if (v.box.width() > before.width() + 100 && v.box.height() > before.height() + 100)
                return v.showsPlaces(false);
            v.problem = QString("the view's box is %1 x %2").arg(v.box.width()).arg(v.box.height());
            return false;
        }, 20000), qPrintable(v.report()));
        QCOMPARE(v.origin, QPoint(0, 0));
        if (stretches)
            QVERIFY2(v.atCorner(), qPrintable(v.report()));
        break;
    }
    case Step::SaysWhy: {
        // Once, in one line with what works; nothing of ours follows, and the
        // slider and closing still work.
        const QString why = QString("is %1 x %2 pixels: on this screen its view needs").arg(image.width()).arg(image.height());
        QVERIFY2(app.waitForError(why), qPrintable(app.report()));
        QVERIFY(v.onWindow({"key", "--window", "%w", "Tab", "Tab", "End"}));
        QTest::qWait(1000);
        QVERIFY2(app.running(), qPrintable(app.report()));
        const QStringList lines = app.errors().split('\n');
        QCOMPARE(lines.filter(why).size(), 1);
        QVERIFY2(lines.filter(why).first().contains("What works: "), qPrintable(app.report()));
        QVERIFY2(!app.errors().contains("glError in"), qPrintable(app.report()));
        break;
    }
    case Step::Closes:
        QVERIFY2(app.closesWithZero(), qPrintable(app.report()));
        break;
    }
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
    QVERIFY2(app.waitForError(waylandReport), qPrintable(app.report()));
    // It keeps running: nothing crashes for want of a view.
    QTest::qWait(1500);
    QVERIFY2(app.running(), qPrintable(app.report()));
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
    QVERIFY2(app.settles([&] { return (problem = coverage(smallPlaces, app.lastFrame())).isEmpty(); }), qPrintable(problem + app.report()));
    QVERIFY(app.running());
    QVERIFY2(!app.errors().contains("Wayland"), qPrintable(app.report()));
}

QTEST_MAIN(TestDesktops)
#include "tst_desktops.moc"
