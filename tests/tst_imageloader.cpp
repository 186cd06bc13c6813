// The image loader against the toolkit's reader: the same image from every
// kind of file, and no memory made resident beyond what a file can fill; and
// the real window on each file: it shows, reports what went wrong, and goes on.

#include <epoxy/gl.h>

#include "render/image/imageloader.h"
#include "render/image/memorybudget.h"
#include "render/toolkit.h"

#include "app/window.h"
#include "support.h"
#include "widgets/loadprogress.h"

#include <QDataStream>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QLabel>
#include <QProgressBar>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

namespace {

enum class Pixels { Defined, Undefined };

// A BMP header claiming width x height pixels of 24 bits, bottom up (top
// down for a negative height), followed by only the given number of rows.
QByteArray claimingBmp(int width, int height, int rows)
{
    const quint32 rowBytes = (width * 3 + 3) / 4 * 4;
    QByteArray bmp;
    QDataStream out(&bmp, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("BM", 2);
    out << quint32(54 + rowBytes * qAbs(height)) << quint32(0) << quint32(54);
    out << quint32(40) << qint32(width) << qint32(height) << quint16(1) << quint16(24)
        << quint32(0) << quint32(rowBytes * qAbs(height)) << qint32(0) << qint32(0) << quint32(0) << quint32(0);
    bmp.append(QByteArray(int(rowBytes) * rows, '\x5a'));
    return bmp;
}

// Gradients that differ along both axes, so rows or columns out of place
// show.
QImage pattern(int width, int height, QImage::Format format)
{
    QImage image(width, height, format);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgba(x * 7, y * 3, (x ^ y) & 0xff, format == QImage::Format_ARGB32 ? (x + y) & 0xff : 0xff));
    return image;
}

// The files the memory budget reads, in a folder of their own while it
// lives: MemAvailable, the process's cgroups and their limits and usages.
class FakeSystem
{
public:
    FakeSystem(qint64 memAvailableKiB, const QByteArray &cgroups, const QList<QPair<QString, QByteArray>> &files)
    {
        // A kernel before 3.14 gives no MemAvailable.
        write("proc/meminfo", "MemTotal:       24000000 kB\n"
                                  + (memAvailableKiB < 0 ? QByteArray() : "MemAvailable:   " + QByteArray::number(memAvailableKiB) + " kB\n"));
        write("proc/self/cgroup", cgroups);
        for (const auto &[path, bytes] : files)
            write(path, bytes);
        MemoryBudget::setRoot(dir.path());
    }
    ~FakeSystem() { MemoryBudget::setRoot("/"); }

private:
    void write(const QString &path, const QByteArray &bytes)
    {
        QDir(dir.path()).mkpath(QFileInfo(path).path());
        writeFile(dir.filePath(path), bytes);
    }
    QTemporaryDir dir;
};

// What the application's windows showed: the top-level windows by title,
// and each paint of a progress bar or a label, in order.
class Shown : public QObject
{
public:
    Shown() { qApp->installEventFilter(this); }
    ~Shown() override { qApp->removeEventFilter(this); }
    QStringList windows;
    QStringList steps;
    QList<int> values;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *widget = qobject_cast<QWidget *>(watched);
        if (widget && event->type() == QEvent::Show && widget->isWindow())
            windows << widget->windowTitle();
        if (event->type() == QEvent::Paint) {
            if (auto *bar = qobject_cast<QProgressBar *>(watched))
                values << bar->value();
            if (auto *label = qobject_cast<QLabel *>(watched); label && (steps.isEmpty() || steps.last() != label->text()))
                steps << label->text();
        }
        return false;
    }
};

long peakResidentKiB()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

} // namespace

class TestImageLoader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void claimBeyondFileMakesNothingResident();
    void decodesAsReader_data();
    void decodesAsReader();
    void keepsReadersAllocationLimit();
    void readsWhatProcessCanHave_data();
    void readsWhatProcessCanHave();
    void refusesWhatMachineCannotHold_data();
    void refusesWhatMachineCannotHold();
    void showsLongLoadsProgress_data();
    void showsLongLoadsProgress();

private:
    QTemporaryDir made;
};

void TestImageLoader::initTestCase()
{
    // What the view decodes, the reader here decodes too.
    Toolkit::limitImages(MemoryBudget::availableBytes());
    QVERIFY(made.isValid());
    const QString dir = made.path() + '/';
    QVERIFY(pattern(2048, 1536, QImage::Format_RGB32).save(dir + "rgb24-2048x1536.bmp"));
    QVERIFY(pattern(1030, 777, QImage::Format_ARGB32).save(dir + "argb32-1030x777.bmp"));
    QVERIFY(pattern(3, 2, QImage::Format_RGB32).save(dir + "rgb24-3x2.bmp"));
    QVERIFY(pattern(1000, 700, QImage::Format_RGB32).save(dir + "rgb-1000x700.png"));
    QVERIFY(pattern(1000, 700, QImage::Format_ARGB32).save(dir + "argb-1000x700.png"));
    QVERIFY(pattern(640, 480, QImage::Format_RGB32).save(dir + "rgb-640x480.jpg"));
    QVERIFY(pattern(1500, 1000, QImage::Format_RGB32).convertToFormat(QImage::Format_Grayscale8).save(dir + "grey-1500x1000.png"));
    QVERIFY(pattern(1500, 1000, QImage::Format_RGB32).convertToFormat(QImage::Format_Indexed8).save(dir + "pal8-1500x1000.bmp"));
    QFile whole(dir + "rgb24-2048x1536.bmp");
    QVERIFY(whole.open(QIODevice::ReadOnly));
    const QByteArray bytes = whole.readAll();
    QVERIFY(writeFile(dir + "truncated-rows.bmp", bytes.left(54 + 6144 * 100)));
    QVERIFY(writeFile(dir + "truncated-header.bmp", bytes.left(30)));
    QVERIFY(writeFile(dir + "empty.bmp", QByteArray()));
    QVERIFY(writeFile(dir + "claims-8192x8192.bmp", claimingBmp(8192, 8192, 1)));
    // Rows from the top: the header's height is negative.
    QVERIFY(writeFile(dir + "claims-8192x8192-top-down.bmp", claimingBmp(8192, -8192, 1)));
    // Almost nothing in the file, 36 million pixels in the image.
    QImage ramp(6000, 6000, QImage::Format_Grayscale8);
    for (int y = 0; y < ramp.height(); ++y)
        std::fill_n(ramp.scanLine(y), ramp.width(), uchar(y / 24));
    QVERIFY(ramp.save(dir + "ramp-6000x6000.png"));
    QVERIFY(QFileInfo(dir + "ramp-6000x6000.png").size() < 200 * 1024);
    QVERIFY(QDir(made.path()).mkdir("directory.bmp"));
}

// A header may claim far more pixels than its file holds: only what the file
// can fill is made resident ahead of the decoder.
void TestImageLoader::claimBeyondFileMakesNothingResident()
{
    const long before = peakResidentKiB();
    QVERIFY(before > 0);
    const QImage image = ImageLoader(made.path() + "/claims-8192x8192.bmp").take();
    const long grown = peakResidentKiB() - before;
    QCOMPARE(image.isNull(), QImageReader(made.path() + "/claims-8192x8192.bmp").read().isNull());
    // The image is 256 MiB; AddressSanitizer writes its shadow of an
    // allocation, an eighth of its size.
    QVERIFY2(grown < 64 * 1024, qPrintable(QString("peak grew by %1 KiB").arg(grown)));
}

void TestImageLoader::decodesAsReader_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("pixels");

    // The suites' odd and damaged files may leave pixels unwritten, whose
    // values are then whatever the memory held.
    for (const QString &path : filesUnder(QStringLiteral(OMBREL_CORPORA "/bmp"), "*.bmp")) {
        const QString name = path.mid(path.indexOf("/bmp/") + 5);
        const bool defined = name.startsWith("good/") || name.startsWith("image-rs/good/");
        QTest::newRow(qPrintable(name)) << path << int(defined ? Pixels::Defined : Pixels::Undefined);
    }

    const QString dir = made.path() + '/';
    QTest::newRow("made: 24-bit BMP, 2048 x 1536") << dir + "rgb24-2048x1536.bmp" << int(Pixels::Defined);
    QTest::newRow("made: BMP with alpha, 1030 x 777") << dir + "argb32-1030x777.bmp" << int(Pixels::Defined);
    QTest::newRow("made: BMP smaller than a page") << dir + "rgb24-3x2.bmp" << int(Pixels::Defined);
    QTest::newRow("made: PNG, written from the top") << dir + "rgb-1000x700.png" << int(Pixels::Defined);
    QTest::newRow("made: PNG with alpha") << dir + "argb-1000x700.png" << int(Pixels::Defined);
    QTest::newRow("made: JPEG") << dir + "rgb-640x480.jpg" << int(Pixels::Defined);
    QTest::newRow("made: greyscale PNG") << dir + "grey-1500x1000.png" << int(Pixels::Defined);
    QTest::newRow("made: BMP with a colour table") << dir + "pal8-1500x1000.bmp" << int(Pixels::Defined);
    QTest::newRow("made: BMP cut after 100 rows") << dir + "truncated-rows.bmp" << int(Pixels::Undefined);
    QTest::newRow("made: BMP cut inside its header") << dir + "truncated-header.bmp" << int(Pixels::Undefined);
    QTest::newRow("made: header claiming 8192 x 8192, one row") << dir + "claims-8192x8192.bmp" << int(Pixels::Undefined);
    QTest::newRow("made: empty file") << dir + "empty.bmp" << int(Pixels::Undefined);
    QTest::newRow("made: directory") << dir + "directory.bmp" << int(Pixels::Undefined);
    QTest::newRow("made: no such file") << dir + "missing.bmp" << int(Pixels::Undefined);
}

// On a thread of its own or the caller's: the reader's image, or null where
// the reader gives none. The window on it reports a file the reader refuses,
// and an image larger than the driver makes a drawable of, where the
// drawable is the whole image's (Qt 5).
void TestImageLoader::decodesAsReader()
{
    QFETCH(QString, path);
    QFETCH(int, pixels);
    const QImage expected = QImageReader(path).read();
    const QImage threaded = ImageLoader(path).take();
    const QImage here = ImageLoader::load(path);
    // An 8-bit image with an opaque grey table comes as grey, its pixels as
    // the toolkit makes them of the table.
    QVector<QRgb> table = expected.colorTable();
    const bool greyTable = expected.format() == QImage::Format_Indexed8 && std::all_of(table.begin(), table.end(), [](QRgb c) {
        return qAlpha(c) == 255 && qRed(c) == qGreen(c) && qGreen(c) == qBlue(c);
    });
    for (const QImage &image : {threaded, here}) {
        QCOMPARE(image.isNull(), expected.isNull());
        QCOMPARE(image.size(), expected.size());
        if (greyTable) {
            QCOMPARE(image.format(), QImage::Format_Grayscale8);
            if (Pixels(pixels) == Pixels::Defined)
                QVERIFY(image.convertToFormat(QImage::Format_RGB32) == expected.convertToFormat(QImage::Format_RGB32));
            continue;
        }
        QCOMPARE(image.format(), expected.format());
        QCOMPARE(image.colorTable(), expected.colorTable());
        if (Pixels(pixels) == Pixels::Defined)
            QVERIFY(image == expected);
    }

    DataDir dir;
    QVERIFY(dir.write("test.frag", missingTerskelShader));
    QVERIFY(QFileInfo(path).isDir() ? QDir(dir.path()).mkdir("fibre.bmp") : !QFile::exists(path) || QFile::copy(path, dir.path() + "/fibre.bmp"));
    QStringList reports{"slider cannot reach the shader"};
    if (expected.isNull())
        reports << "\"fibre.bmp\"";
    else if (Toolkit::viewIsNativeWindow() && qRound(qMax(expected.width(), expected.height()) * qApp->devicePixelRatio()) > largestDrawableSide())
        reports << "its view needs";
    const QStringList messages = shownMessages();
    for (const QString &text : reports)
        QVERIFY2(!messages.filter(text).isEmpty(), qPrintable(text + " not in:\n" + messages.join('\n')));
    QVERIFY2(messages.filter("glError").isEmpty(), qPrintable(messages.join('\n')));
}

// Qt 6's reader refuses an image beyond its allocation limit only when it
// makes the image itself; the loader hands it one already made.
void TestImageLoader::keepsReadersAllocationLimit()
{
#if QT_VERSION_MAJOR >= 6
    const int limit = QImageReader::allocationLimit();
    QImageReader::setAllocationLimit(4);
    const QString path = made.path() + "/rgb24-2048x1536.bmp";
    const QImage expected = QImageReader(path).read();
    const QImage image = ImageLoader::load(path);
    QImageReader::setAllocationLimit(limit);
    QVERIFY(expected.isNull());
    QVERIFY(image.isNull());
#else
    QSKIP("Qt 5's reader has no allocation limit");
#endif
}

void TestImageLoader::readsWhatProcessCanHave_data()
{
    QTest::addColumn<qint64>("memAvailableKiB");
    QTest::addColumn<QByteArray>("cgroups");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<qint64>("available");

    const QByteArray v2 = "0::/user.slice/app.scope\n";
    const QByteArray v1 = "9:memory:/process_api/job\n4:cpu,cpuacct:/\n0::/\n";
    const QString scope = "sys/fs/cgroup/user.slice/app.scope/";
    const QString job = "sys/fs/cgroup/memory/process_api/job/";
    QTest::newRow("no cgroup limit: MemAvailable") << qint64(4000000) << QByteArray("0::/\n") << QStringList() << qint64(4096000000);
    QTest::newRow("v2 limit under MemAvailable") << qint64(8000000) << v2
        << QStringList{scope + "memory.max=4294967296", scope + "memory.current=1073741824"} << qint64(3221225472);
    QTest::newRow("v2 without a limit") << qint64(8000000) << v2
        << QStringList{scope + "memory.max=max", scope + "memory.current=1073741824"} << qint64(8192000000);
    QTest::newRow("v2 limit on a parent") << qint64(8000000) << v2
        << QStringList{scope + "memory.max=max", scope + "memory.current=100", "sys/fs/cgroup/user.slice/memory.max=2000000000",
                       "sys/fs/cgroup/user.slice/memory.current=500000000"} << qint64(1500000000);
    QTest::newRow("v2 limit over MemAvailable") << qint64(1000) << v2
        << QStringList{scope + "memory.max=4294967296", scope + "memory.current=0"} << qint64(1024000);
    QTest::newRow("v2 usage past the limit") << qint64(8000000) << v2
        << QStringList{scope + "memory.max=1000", scope + "memory.current=2000"} << qint64(0);
    QTest::newRow("v1 limit") << qint64(8000000) << v1
        << QStringList{job + "memory.limit_in_bytes=4294967296", job + "memory.usage_in_bytes=294967296"} << qint64(4000000000);
    QTest::newRow("v1 without a limit") << qint64(8000000) << v1
        << QStringList{job + "memory.limit_in_bytes=9223372036854771712", job + "memory.usage_in_bytes=1735262208"}
        << qint64(8192000000);
    // A cgroup at its limit with cached files, some of them mapped.
    QTest::newRow("v2 limit, usage mostly file cache") << qint64(8000000) << v2
        << QStringList{scope + "memory.max=4294967296", scope + "memory.current=4200000000",
                       scope + "memory.stat=anon 1200000000\nactive_file 2000000000\ninactive_file 1000000000\nfile_mapped 500000000"}
        << qint64(2594967296);
    QTest::newRow("v1 limit, usage mostly file cache") << qint64(8000000) << v1
        << QStringList{job + "memory.limit_in_bytes=4294967296", job + "memory.usage_in_bytes=4000000000",
                       job + "memory.stat=active_file 1\nmapped_file 1\ntotal_active_file 1500000000\ntotal_inactive_file 500000000\ntotal_mapped_file 100000000"}
        << qint64(2194967296);
    QTest::newRow("nothing to read") << qint64(-1) << QByteArray() << QStringList() << qint64(-1);
}

// What the process can have: MemAvailable or, where smaller, what the
// cgroups' limits leave it.
void TestImageLoader::readsWhatProcessCanHave()
{
    QFETCH(qint64, memAvailableKiB);
    QFETCH(QByteArray, cgroups);
    QFETCH(QStringList, files);
    QFETCH(qint64, available);
    QList<QPair<QString, QByteArray>> contents;
    for (const QString &file : files)
        contents.append({file.section('=', 0, 0), file.section('=', 1).toUtf8() + '\n'});
    FakeSystem system(memAvailableKiB, cgroups, contents);
    QCOMPARE(MemoryBudget::availableBytes(), available);
}

void TestImageLoader::refusesWhatMachineCannotHold_data()
{
    QTest::addColumn<QString>("path");
    // Bytes the process can have past the image's peak (negative: short).
    QTest::addColumn<qint64>("spare");
    QTest::addColumn<bool>("refused");

    const QString dir = made.path() + '/';
    QTest::newRow("fits to the byte") << dir + "rgb24-2048x1536.bmp" << qint64(0) << false;
    QTest::newRow("a byte past") << dir + "rgb24-2048x1536.bmp" << qint64(-1) << true;
    QTest::newRow("grey PNG, a byte past") << dir + "grey-1500x1000.png" << qint64(-1) << true;
    QTest::newRow("PNG with alpha, a byte past") << dir + "argb-1000x700.png" << qint64(-1) << true;
    // The header's claim is what the decoder would allocate.
    QTest::newRow("header claiming 8192 x 8192 over one row, past") << dir + "claims-8192x8192.bmp" << qint64(-1) << true;
    QTest::newRow("header claiming 8192 x 8192 over one row, within") << dir + "claims-8192x8192.bmp" << qint64(0) << false;
    QTest::newRow("top-down header claiming 8192 x 8192, past") << dir + "claims-8192x8192-top-down.bmp" << qint64(-1) << true;
    QTest::newRow("highly compressed PNG, past") << dir + "ramp-6000x6000.png" << qint64(-1) << true;
}

// Past what the process can have, one line and no image; within it, the
// reader's image. The window on an image past it says that line alone,
// draws no image and goes on: one frame for each slider change.
void TestImageLoader::refusesWhatMachineCannotHold()
{
    QFETCH(QString, path);
    QFETCH(qint64, spare);
    QFETCH(bool, refused);
    QImageReader header(path);
    const QSize size(header.size().width(), qAbs(header.size().height()));
    const qint64 peak = MemoryBudget::peakBytes(size, header.imageFormat());
    // Usage and a limit in bytes: the cgroup says what the process can have
    // to the byte.
    const qint64 usage = 123456789;
    FakeSystem system(64 << 20, "0::/\n", {{"sys/fs/cgroup/memory.max", QByteArray::number(usage + peak + spare)},
                                           {"sys/fs/cgroup/memory.current", QByteArray::number(usage)}});
    QCOMPARE(MemoryBudget::availableBytes(), peak + spare);
    QString why;
    const QImage image = ImageLoader::load(path, &why);
    if (!refused) {
        QCOMPARE(image.isNull(), QImageReader(path).read().isNull());
        QVERIFY2(why.isEmpty(), qPrintable(why));
        return;
    }
    QVERIFY(image.isNull());
    const QString line = QString("The image \"%1\" is %2 x %3 pixels: showing it needs %4 bytes of memory, more than the %5 "
                                 "bytes this process can have now, so the view draws no image")
                             .arg(path).arg(size.width()).arg(size.height()).arg(peak).arg(peak - 1);
    QCOMPARE(why, line);

    DataDir dir;
    QVERIFY(QFile::copy(path, dir.path() + "/fibre.bmp"));
    QVERIFY(dir.write("test.frag", stepShader));
    MessageLog log;
    Window window;
    const int shown = framegrabFrames();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window) && frameAfter(shown));
    auto *slider = window.findChild<QSlider *>();
    const int frames = framegrabFrames();
    for (int value : {10, 20, 30})
        slider->setValue(value);
    QCOMPARE(framegrabFrames(), frames + 3);
    QCOMPARE(log.messages, QStringList{QString(line).replace(path, "fibre.bmp")});
}

void TestImageLoader::showsLongLoadsProgress_data()
{
    QTest::addColumn<int>("delay");
    QTest::addColumn<QImage>("image");
    QTest::addColumn<bool>("shown");

    const QImage grey = noise(3000, 2000, QImage::Format_Grayscale16, 5);
    QTest::newRow("a quick load: nothing of it") << 1000 << filled(64, 64, qRgb(9, 9, 9)) << false;
    // Made long by a delay of none: the window from the start.
    QTest::newRow("a long load: the file, then the texture") << 0 << grey << true;
    QTest::newRow("a long load in tiles: the file, then the tiles") << 0 << grey << true;
}

// Where a load runs past the delay, a window named for the file shows how
// far it has come, the file's bytes read and then the texture's rows, and
// goes once the viewer's window shows; a quick load shows none.
void TestImageLoader::showsLongLoadsProgress()
{
    QFETCH(int, delay);
    QFETCH(QImage, image);
    QFETCH(bool, shown);
    DataDir dir;
    QVERIFY(image.save(dir.path() + "/fibre.bmp", "PNG"));
    QVERIFY(dir.write("test.frag", stepShader));
    LoadProgress::setDelay(delay);
    // The tiles' row: a driver whose largest texture is a third of the image.
    fakeTexture = QByteArray(QTest::currentDataTag()).contains("tiles") ? 1024 : 0;
    EntryPointPatch limits(epoxy_glGetIntegerv, "glGetIntegerv", limitedGetIntegerv);
    realGetIntegerv = limits.real;
    Shown record;
    {
        Window window;
        const int frames = framegrabFrames();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window) && frameAfter(frames));
        const auto progressShown = [] {
            const QWidgetList windows = QApplication::topLevelWidgets();
            return std::any_of(windows.begin(), windows.end(), [](QWidget *w) { return w->windowTitle() == "fibre.bmp"; });
        };
        QTRY_VERIFY(!progressShown());
    }
    LoadProgress::setDelay(1000);
    QCOMPARE(record.windows.contains("fibre.bmp"), shown);
    if (!shown) {
        QVERIFY(record.values.isEmpty());
        return;
    }
    // Before the viewer's window.
    QVERIFY(record.windows.indexOf("fibre.bmp") < record.windows.indexOf("Ombrel GL"));
    QCOMPARE(record.steps, QStringList({"Reading fibre.bmp", "Handing the image to the GPU"}));
    // The file read whole: the bar full before the texture's step.
    QVERIFY(record.values.contains(1000));
}

QTEST_MAIN(TestImageLoader)
#include "tst_imageloader.moc"
