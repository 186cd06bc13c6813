// The real ombrel-gl, run as a user would: started in a folder, its window
// and its modal box closed as a window manager would.

#include "app/platform.h"
#include "appprocess.h"
#include "render/memorybudget.h"
#include "support.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QtTest>

#include <vector>

class TestApp : public QObject
{
    Q_OBJECT

private slots:
    void startsOnce_data();
    void startsOnce();
    void decidesWhetherPlatformChosen_data();
    void decidesWhetherPlatformChosen();
    void startsAndClosesWithZero_data();
    void startsAndClosesWithZero();
    void refusesOldOpenGL();
    void reportsMissingData();
    void holdsWhatItsBudgetSays_data();
    void holdsWhatItsBudgetSays();
};

namespace {

#ifdef OMBREL_FIRSTFRAME
// The peak resident memory of ombrel-gl up to its first frame showing an
// image, in bytes; -1 where none came. The benchmarks' first-frame library
// notes it and ends the process: no frame is read back, which would make the
// whole of Qt 5's image-sized drawable resident.
qint64 peakShowing(const QImage &image, const char *format)
{
    DataDir dir;
    if (!image.save(dir.path() + "/fibre.bmp", format) || !dir.copySample("test.frag"))
        return -1;
    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LD_PRELOAD", OMBREL_FIRSTFRAME);
    env.insert("FIRSTFRAME_OUT", dir.path() + "/first");
    app.setProcessEnvironment(env);
    app.setWorkingDirectory(dir.path());
    app.start(QString(OMBREL_GL), QStringList());
    QFile first(dir.path() + "/first");
    if (!app.waitForFinished(60000) || !first.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> figures = first.readAll().simplified().split(' ');
    return figures.size() == 2 ? figures[1].toLongLong() * 1024 : -1;
}
#endif

} // namespace

void TestApp::startsOnce_data()
{
    QTest::addColumn<int>("side");
    QTest::addColumn<QString>("own");

    QTest::newRow("512 x 512") << 512 << QString();
    QTest::newRow("2048 x 2048") << 2048 << QString();
    QTest::newRow("the person's own tunables") << 2048 << "glibc.malloc.mmap_threshold=65536";
}

// The program starts once, never execing itself again, and keeps the command
// line and GLIBC_TUNABLES it was given, for the processes it starts too.
void TestApp::startsOnce()
{
    QFETCH(int, side);
    QFETCH(QString, own);
    DataDir dir;
    QVERIFY(dir.writeImage(filled(side, side, qRgb(160, 160, 164))));
    QVERIFY(dir.copySample("test.frag"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("GLIBC_TUNABLES");
    if (!own.isEmpty())
        env.insert("GLIBC_TUNABLES", own);
    AppProcess app(dir.path(), env, {"-style", "fusion"});
    QVERIFY2(app.settles([&] { return !app.lastFrame().isNull(); }, 60000), qPrintable(app.errors()));
    QCOMPARE(app.starts(), 1);

    const QString proc = QString("/proc/%1/").arg(app.process.processId());
    QFile cmdline(proc + "cmdline");
    QVERIFY(cmdline.open(QIODevice::ReadOnly));
    QCOMPARE(cmdline.readAll(), QByteArray(OMBREL_GL "\0-style\0fusion\0", int(sizeof(OMBREL_GL)) + 14));
    QFile environ(proc + "environ");
    QVERIFY(environ.open(QIODevice::ReadOnly));
    QStringList tunables;
    for (const QByteArray &variable : environ.readAll().split('\0'))
        if (variable.startsWith("GLIBC_TUNABLES="))
            tunables << QString::fromLocal8Bit(variable.mid(15));
    QCOMPARE(tunables, own.isEmpty() ? QStringList() : QStringList{own});

    QVERIFY2(app.closesWithZero(), qPrintable(app.report()));
}

void TestApp::decidesWhetherPlatformChosen_data()
{
    QTest::addColumn<QByteArray>("environment");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("chosen");

    QTest::newRow("nothing chosen") << QByteArray() << QStringList() << false;
    QTest::newRow("QT_QPA_PLATFORM empty") << QByteArray("") << QStringList() << false;
    QTest::newRow("QT_QPA_PLATFORM=wayland") << QByteArray("wayland") << QStringList() << true;
    QTest::newRow("QT_QPA_PLATFORM=xcb") << QByteArray("xcb") << QStringList() << true;
    QTest::newRow("-platform wayland") << QByteArray() << QStringList{"-platform", "wayland"} << true;
    QTest::newRow("--platform offscreen after others") << QByteArray() << QStringList{"-style", "fusion", "--platform", "offscreen"} << true;
    QTest::newRow("-platformtheme is no platform") << QByteArray() << QStringList{"-platformtheme", "gtk3"} << false;
    QTest::newRow("-platform without a name") << QByteArray() << QStringList{"-platform"} << false;
}

void TestApp::decidesWhetherPlatformChosen()
{
    QFETCH(QByteArray, environment);
    QFETCH(QStringList, arguments);
    QFETCH(bool, chosen);
    QList<QByteArray> bytes{"ombrel-gl"};
    for (const QString &argument : arguments)
        bytes << argument.toUtf8();
    std::vector<const char *> argv;
    for (const QByteArray &argument : bytes)
        argv.push_back(argument.constData());
    QCOMPARE(platformChosen(environment.isNull() ? nullptr : environment.constData(), int(argv.size()), argv.data()), chosen);
}

void TestApp::startsAndClosesWithZero_data()
{
    QTest::addColumn<QString>("glVersion");
    QTest::newRow("driver's own version") << QString();
    QTest::newRow("2.0") << QString("2.0");
    QTest::newRow("2.1") << QString("2.1");
}

void TestApp::startsAndClosesWithZero()
{
    QFETCH(QString, glVersion);
    DataDir dir;
    QVERIFY(dir.copySample("fibre.bmp"));
    QVERIFY(dir.write("test.frag", missingTerskelShader));
    AppProcess app(dir.path(), glVersion.isEmpty() ? QProcessEnvironment::systemEnvironment() : AppProcess::withGLVersion(glVersion));
    // The shader's report shows the version test passed and the program was built.
    QVERIFY2(app.waitForError("slider cannot reach the shader"), qPrintable(app.errors()));
    QVERIFY2(app.closesWithZero(), qPrintable(app.report()));
    QVERIFY2(!app.errors().contains("glError"), qPrintable(app.errors()));
}

void TestApp::refusesOldOpenGL()
{
    DataDir dir;
    QVERIFY(dir.copySample("fibre.bmp"));
    QVERIFY(dir.write("test.frag", missingTerskelShader));
    AppProcess app(dir.path(), AppProcess::withGLVersion("1.5"));
    // Generous: under the sanitizers on a loaded machine the box may take a while.
    QStringList boxes;
    QVERIFY2(app.settles([&] { return !(boxes = app.windows("^Varnok$")).isEmpty(); }, 60000),
             qPrintable("no \"Varnok\" box appeared: " + app.report()));
    // The box waits for its answer; the process must not end on its own.
    // Its nested event loop may initialise the view again: one box, not two.
    QTest::qWait(1000);
    QVERIFY(app.running());
    QVERIFY2(app.windows("^Varnok$").size() == 1, qPrintable(app.report()));
    // Closed as from its title bar.
    QCOMPARE(QProcess::execute(OMBREL_WMCLOSE, {"--pid", QString::number(app.process.processId()), "Varnok"}), 0);
    QVERIFY(app.finished());
    QCOMPARE(app.exitCode(), 255);
    // No shader was built: its report never came.
    QVERIFY2(!app.errors().contains("cannot reach the shader"), qPrintable(app.errors()));
}

void TestApp::reportsMissingData()
{
    DataDir dir;
    AppProcess app(dir.path());
    QVERIFY2(app.waitForError("\"test.frag\""), qPrintable(app.errors()));
    QVERIFY2(app.closesWithZero(), qPrintable(app.report()));
    // One report for each file, naming it and the folder it was looked for in.
    const QStringList lines = app.errors().split('\n');
    const QString folder = QDir(dir.path()).canonicalPath();
    QCOMPARE(lines.filter("\"fibre.bmp\"").filter(folder).size(), 1);
    QCOMPARE(lines.filter("\"test.frag\"").filter(folder).size(), 1);
}

void TestApp::holdsWhatItsBudgetSays_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("opaque BMP, 4096 x 4096") << int(QImage::Format_RGB32) << QByteArray("BMP");
    QTest::newRow("grey PNG, 4096 x 4096") << int(QImage::Format_Grayscale8) << QByteArray("PNG");
    QTest::newRow("PNG with alpha, 4096 x 4096") << int(QImage::Format_ARGB32) << QByteArray("PNG");
}

// Showing an image takes, above what the process takes with next to no
// image, what its memory budget says: the pixmap and the texture, and no
// copy of the image besides.
void TestApp::holdsWhatItsBudgetSays()
{
#if defined(__SANITIZE_ADDRESS__) || !defined(OMBREL_FIRSTFRAME)
    QSKIP("The sanitizers' own memory hides the viewer's; their build has no benchmarks' first-frame library");
#else
    QFETCH(int, format);
    QFETCH(QByteArray, file);
    QImage image(4096, 4096, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        QRgb *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            row[x] = qRgba(x / 16, y / 16, (x + y) / 32, 64 + y / 32);
    }
    image = image.convertToFormat(QImage::Format(format));
    const qint64 bare = peakShowing(filled(16, 16, qRgb(1, 2, 3)), "BMP");
    const qint64 showing = peakShowing(image, file);
    QVERIFY(bare > 0 && showing > 0);
    const qint64 budget = MemoryBudget::peakBytes(image.size(), QImage::Format(format));
    const qint64 pixmapAndTexture = qint64(image.width()) * image.height() * 8;
    const QString figures = QString("%1 MiB above the bare process's %2 MiB; the budget says %3 MiB")
                                .arg((showing - bare) >> 20).arg(bare >> 20).arg(budget >> 20);
    qInfo("%s", qPrintable(figures));
    QVERIFY2(showing - bare <= pixmapAndTexture + pixmapAndTexture / 10, qPrintable(figures));
    QVERIFY2(showing - bare >= budget - budget / 10, qPrintable(figures));
#endif
}

QTEST_MAIN(TestApp)
#include "tst_app.moc"
