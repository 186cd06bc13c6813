// The image loader against the toolkit's reader: the same image from every
// kind of file, and no memory made resident beyond what a file can fill; and
// the real window on each file: it shows, reports what went wrong, and goes on.

#include <epoxy/gl.h>

#include "render/imageloader.h"
#include "render/toolkit.h"

#include "support.h"

#include <QDataStream>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTemporaryDir>
#include <QtTest>

namespace {

enum class Pixels { Defined, Undefined };

// A BMP header claiming width x height pixels of 24 bits, bottom up,
// followed by only the given number of rows.
QByteArray claimingBmp(int width, int height, int rows)
{
    const quint32 rowBytes = (width * 3 + 3) / 4 * 4;
    QByteArray bmp;
    QDataStream out(&bmp, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("BM", 2);
    out << quint32(54 + rowBytes * height) << quint32(0) << quint32(54);
    out << quint32(40) << qint32(width) << qint32(height) << quint16(1) << quint16(24)
        << quint32(0) << quint32(rowBytes * height) << qint32(0) << qint32(0) << quint32(0) << quint32(0);
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

private:
    QTemporaryDir made;
};

void TestImageLoader::initTestCase()
{
    // What the view decodes, the reader here decodes too.
    Toolkit::allowLargeImages();
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
    for (const QImage &image : {threaded, here}) {
        QCOMPARE(image.isNull(), expected.isNull());
        QCOMPARE(image.size(), expected.size());
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

QTEST_MAIN(TestImageLoader)
#include "tst_imageloader.moc"
