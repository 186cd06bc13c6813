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

#include <cstdlib>

namespace {

const QRgb topLeft = qRgb(200, 40, 40);
const QRgb topRight = qRgb(200, 200, 40);
const QRgb bottomLeft = qRgb(200, 40, 200);
const QRgb bottomRight = qRgb(200, 200, 200);
const QRgb centre = qRgb(250, 120, 0);
const QRgb failed = qRgb(0, 0, 0);

// Four quadrants and a centre square, every red above 0.4: all of it shows
// at the starting threshold, none of it at 1.0.
QImage quadrants()
{
    QImage image(512, 512, QImage::Format_RGB32);
    for (int y = 0; y < 512; ++y)
        for (int x = 0; x < 512; ++x)
            image.setPixel(x, y, y < 256 ? (x < 256 ? topLeft : topRight) : (x < 256 ? bottomLeft : bottomRight));
    for (int y = 224; y < 288; ++y)
        for (int x = 224; x < 288; ++x)
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

// Empty when the frame shows the whole image upright over all of it: the
// colours near the four corners and at the centre, and no clear colour
// anywhere on a grid over the frame. Otherwise what is wrong.
QString coverage(const QImage &frame)
{
    if (frame.isNull())
        return "no frame";
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

bool allFailed(const QImage &frame)
{
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
        QStringList arguments{"--backend=headless-backend.so", "--socket=" + socket, "--log=" + log, "--idle-time=0"};
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
    QTRY_VERIFY2_WITH_TIMEOUT((problem = coverage(frame = app.lastFrame())).isEmpty(), qPrintable(problem), 30000);
    // The window shows the image at its own size at least, scaled with the screen.
    QVERIFY2(frame.width() >= qRound(512 * scale) && frame.height() >= qRound(512 * scale),
             qPrintable(QString("%1 x %2").arg(frame.width()).arg(frame.height())));
    QVERIFY(app.closeWindow());
    QVERIFY(app.finished());
    QCOMPARE(app.exitCode(), 0);
}

void TestDesktops::waylandSessionShowsViewThroughXWayland()
{
    Weston weston(true);
    QVERIFY2(weston.ready, "weston with XWayland did not start");
    AppProcess app(data->path(), weston.session(), {}, true);
    int frames = 0;
    QString problem;
    QTRY_VERIFY2_WITH_TIMEOUT((problem = coverage(app.lastFrame(&frames))).isEmpty(), qPrintable(problem), 30000);

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

QTEST_MAIN(TestDesktops)
#include "tst_desktops.moc"
