// The real ombrel-gl, run as a user would: started in a folder, its window
// and its modal box closed as a window manager would.

#include "app/platform.h"
#include "appprocess.h"
#include "render/image/memorybudget.h"
#include "render/image/textureupload.h"
#include "support.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QtTest>

#include <algorithm>
#include <cstdlib>
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
    void reportsMissingData_data();
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
    // Every block of 64 KiB or more its own mapping, returned when freed:
    // what the image takes is not hidden in heap that earlier work freed.
    env.insert("MALLOC_MMAP_THRESHOLD_", "65536");
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

void TestApp::reportsMissingData_data()
{
    QTest::addColumn<bool>("locale");
    QTest::newRow("UTF-8 locale") << true;
    // As on a minimal install, in a container or under env -i.
    QTest::newRow("no locale") << false;
}

void TestApp::reportsMissingData()
{
    QFETCH(bool, locale);
    // A folder whose name is not ASCII: the reports name it byte for byte.
    DataDir dir("pr\u00f8ve-\u5fae");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &name : env.keys())
        if (name.startsWith("LC_") || name == "LANG" || name == "LANGUAGE")
            env.remove(name);
    if (locale)
        env.insert("LANG", "C.UTF-8");
    AppProcess app(dir.path(), env);
    QVERIFY2(app.waitForError("\"test.frag\""), qPrintable(app.errors()));
    QVERIFY2(app.closesWithZero(), qPrintable(app.report()));
    // One report for each file, naming it and the folder it was looked for in.
    const QByteArray folder = QDir(dir.path()).canonicalPath().toUtf8();
    const QList<QByteArray> lines = app.errorBytes().split('\n');
    for (const QByteArray &line : {"Cannot load the image \"fibre.bmp\" in " + folder + ": the view draws no image",
                                   "Cannot read the shader source \"test.frag\" in " + folder
                                       + ": the shader is compiled from an empty source"})
        QVERIFY2(lines.count(line) == 1, qPrintable(app.report()));
    // Only the toolkit may speak of the locale, and only where none is set.
    if (locale)
        QCOMPARE(app.ownErrors(), app.errors());
}

void TestApp::holdsWhatItsBudgetSays_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QSize>("size");
    // Each part of the peak weighs in some row: the decoded image (grey, and
    // 16-bit colour, shrunk into its own memory), the pixmap and the texture
    // (all), the band converted at a time (alpha).
    QTest::newRow("opaque BMP, 4096 x 4096") << int(QImage::Format_RGB32) << QByteArray("BMP") << QSize(4096, 4096);
    QTest::newRow("16-bit colour PNG, 2048 x 2048") << int(QImage::Format_RGBX64) << QByteArray("PNG") << QSize(2048, 2048);
    QTest::newRow("PNG with alpha, 2048 x 1024") << int(QImage::Format_ARGB32) << QByteArray("PNG") << QSize(2048, 1024);
    QTest::newRow("grey PNG, 4096 x 4096") << int(QImage::Format_Grayscale8) << QByteArray("PNG") << QSize(4096, 4096);
    QTest::newRow("16-bit grey PNG, 4096 x 4096") << int(QImage::Format_Grayscale16) << QByteArray("PNG") << QSize(4096, 4096);
    QTest::newRow("grey-palette BMP, 4096 x 4096") << int(QImage::Format_Indexed8) << QByteArray("BMP") << QSize(4096, 4096);
}

// Showing an image takes, above what the process takes with next to no
// image, what its memory budget says to within a few MiB, and at most the
// pixmap and the texture at the image's own depth: no copy of the image
// besides, and nothing the budget leaves out.
void TestApp::holdsWhatItsBudgetSays()
{
#if defined(__SANITIZE_ADDRESS__) || !defined(OMBREL_FIRSTFRAME)
    QSKIP("The sanitizers' own memory hides the viewer's; their build has no benchmarks' first-frame library");
#else
    QFETCH(int, format);
    QFETCH(QByteArray, file);
    QFETCH(QSize, size);
    QImage image(size, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        QRgb *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            row[x] = qRgba(x / 16, y / 16, (x + y) / 32, 64 + y / 32);
    }
    // The palette's image: its own greys, in a colour table of them.
    image = format == QImage::Format_Indexed8 ? image.convertToFormat(QImage::Format_Grayscale8).convertToFormat(QImage::Format_Indexed8)
                                              : image.convertToFormat(QImage::Format(format));
    const qint64 bare = peakShowing(filled(16, 16, qRgb(1, 2, 3)), "BMP");
    const qint64 showing = peakShowing(image, file);
    QVERIFY(bare > 0 && showing > 0);
    const QImage::Format shownAs = format == QImage::Format_Indexed8 ? QImage::Format_Grayscale8 : QImage::Format(format);
    const qint64 budget = MemoryBudget::peakBytes(image.size(), shownAs);
    const bool grey = shownAs == QImage::Format_Grayscale8 || shownAs == QImage::Format_Grayscale16;
    const qint64 pixels = qint64(image.width()) * image.height();
    const qint64 pixmapAndTexture = pixels * (grey ? 2 * (shownAs == QImage::Format_Grayscale16 ? 2 : 1) : 8);
    const qint64 above = showing - bare;
    const QString figures = QString("%1 MiB above the bare process's %2 MiB; the budget says %3 MiB, pixmap and texture %4 MiB")
                                .arg(double(above) / (1 << 20), 0, 'f', 1).arg(bare >> 20).arg(double(budget) / (1 << 20), 0, 'f', 1)
                                .arg(pixmapAndTexture >> 20);
    qInfo("%s", qPrintable(figures));
    // Nothing the budget leaves out: each part of it is 16 MiB or more in
    // some row, past the measurement's few MiB (a long load's progress
    // window among them). The band converted at a time, at most 4 MiB, is
    // freed before the peak comes (measured), and may be all the budget says
    // beyond it.
    const qint64 slack = qint64(4) << 20;
    const qint64 band = TextureUpload::largestBand(QImage::Format_ARGB32_Premultiplied, image.width());
    const bool alpha = image.hasAlphaChannel();
    QVERIFY2(above <= budget + slack, qPrintable(figures));
    QVERIFY2(budget <= above + slack + (alpha ? band : 0), qPrintable(figures));
    QVERIFY2(above <= pixmapAndTexture + slack, qPrintable(figures));
#endif
}

QTEST_MAIN(TestApp)
#include "tst_app.moc"
