// Bad images and shaders served to the real ombrel-gl: whatever the file, it
// starts, keeps running, reports what went wrong and closes with status 0.

#include <epoxy/gl.h>

#include "appprocess.h"
#include "support.h"

#include <QImageReader>
#include <QRandomGenerator>
#include <QtTest>

namespace {

enum class Made { None, Empty, TruncatedHeader, TruncatedPixels, Directory };

QByteArray sampleImage()
{
    QFile file(OMBREL_SAMPLE "/fibre.bmp");
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray sampleShaderBody()
{
    return "void main() { gl_FragColor = texture2D(Tekstur, gl_TexCoord[0].st); }\n";
}

} // namespace

class TestBadInput : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void servesImage_data();
    void servesImage();
    void servesShader_data();
    void servesShader();
    void cleanupTestCase();

private:
    // Runs the viewer in the folder and checks it through to a polite close;
    // false when it crashed, hung or ended badly.
    bool runViewer(const QString &folder, const QStringList &expected, QString *errors);

    // The largest view the toolkit makes, in device pixels a side.
    int largestView = 0;
    int tried = 0;
    int failed = 0;
};

void TestBadInput::initTestCase()
{
#if QT_VERSION_MAJOR >= 6
    // What the viewer can decode: it raises Qt 6's default limit to this.
    QImageReader::setAllocationLimit(1024);
#endif
    GLContext context;
    QVERIFY(context.isCurrent());
    largestView = largestViewSide();
    QVERIFY(largestView > 0);
}

bool TestBadInput::runViewer(const QString &folder, const QStringList &expected, QString *errors)
{
    ++tried;
    bool ok = false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        AppProcess app(folder);
        // The view reports the missing "Terskel" once it is past its upload.
        const bool initialised = app.waitForError("slider cannot reach the shader", 60000);
        QTest::qWait(200);
        const bool alive = app.running();
        const bool closed = alive && app.closesWithZero(60000);
        *errors = app.errors();
        ok = initialised && closed && !errors->contains("Sanitizer") && !errors->contains("runtime error");
        for (const QString &text : expected)
            ok = ok && errors->contains(text);
        if (ok || !onlyLeakTracerCrashed(*errors))
            break;
        qInfo("LeakSanitizer's tracer crashed at exit; the run is made once more");
    }
    if (!ok)
        ++failed;
    return ok;
}

void TestBadInput::servesImage_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("made");

    for (const QString &path : filesUnder(QStringLiteral(OMBREL_CORPORA "/bmp"), "*.bmp"))
        QTest::newRow(qPrintable(path.mid(path.indexOf("/bmp/") + 5))) << path << int(Made::None);

    QTest::newRow("made: empty file") << QString() << int(Made::Empty);
    QTest::newRow("made: truncated header") << QString() << int(Made::TruncatedHeader);
    QTest::newRow("made: truncated pixel data") << QString() << int(Made::TruncatedPixels);
    QTest::newRow("made: directory named fibre.bmp") << QString() << int(Made::Directory);
}

void TestBadInput::servesImage()
{
    QFETCH(QString, path);
    QFETCH(int, made);
    DataDir dir;
    QVERIFY(dir.write("test.frag", missingTerskelShader()));
    const QByteArray sample = sampleImage();
    QVERIFY(!sample.isEmpty());
    switch (Made(made)) {
    case Made::None:
        QVERIFY(QFile::copy(path, dir.path() + "/fibre.bmp"));
        break;
    case Made::Empty:
        QVERIFY(dir.write("fibre.bmp", QByteArray()));
        break;
    case Made::TruncatedHeader:
        QVERIFY(dir.write("fibre.bmp", sample.left(30)));
        break;
    case Made::TruncatedPixels:
        QVERIFY(dir.write("fibre.bmp", sample.left(sample.size() / 2)));
        break;
    case Made::Directory:
        QVERIFY(QDir(dir.path()).mkdir("fibre.bmp"));
        break;
    }

    QStringList expected;
    QImageReader reader(dir.path() + "/fibre.bmp");
    const QImage image = reader.read();
    if (image.isNull())
        expected << "\"fibre.bmp\"";
    else if (qMax(image.width(), image.height()) > largestView)
        expected << "its view needs";

    QString errors;
    QVERIFY2(runViewer(dir.path(), expected, &errors), qPrintable(errors));
}

void TestBadInput::servesShader_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<bool>("directory");
    QTest::addColumn<QStringList>("expected");

    const QByteArray uniform = "uniform sampler2D Tekstur;\n";
    QByteArray garbage(64 * 1024, '\0');
    QRandomGenerator random(7);
    for (char &byte : garbage)
        byte = char(random.bounded(256));
    QTest::newRow("binary garbage") << garbage << false << QStringList{"error"};
    QTest::newRow("NUL bytes inside a line")
        << QByteArray(uniform + "void main() { gl_FragColor = vec4(1.0); }\0 garbage after\n" + "float x = 1.0\0;\n", 84)
        << false << QStringList{"NUL byte"};
    QTest::newRow("one line of 10 MB") << QByteArray(uniform + "// " + QByteArray(10 << 20, 'x') + "\n" + sampleShaderBody())
                                       << false << QStringList();
    QByteArray manyLines = uniform;
    manyLines.reserve(12 << 20);
    for (int i = 0; i < 1000000; ++i)
        manyLines += "// short\n";
    manyLines += sampleShaderBody();
    QTest::newRow("a million short lines") << manyLines << false << QStringList();
    QTest::newRow("empty file") << QByteArray() << false << QStringList{"error"};
    QTest::newRow("directory named test.frag") << QByteArray() << true << QStringList{"\"test.frag\""};
    QTest::newRow("compile error") << QByteArray(uniform + "void main() { gl_FragColor = vec4(1.0) }\n") << false
                                   << QStringList{"error"};
    QTest::newRow("link-only error") << QByteArray(uniform + "void helper() { gl_FragColor = vec4(1.0); }\n") << false
                                     << QStringList{"main"};
}

void TestBadInput::servesShader()
{
    QFETCH(QByteArray, source);
    QFETCH(bool, directory);
    QFETCH(QStringList, expected);
    DataDir dir;
    QVERIFY(QFile::copy(OMBREL_SAMPLE "/fibre.bmp", dir.path() + "/fibre.bmp"));
    if (directory)
        QVERIFY(QDir(dir.path()).mkdir("test.frag"));
    else
        QVERIFY(dir.write("test.frag", source));
    QString errors;
    QVERIFY2(runViewer(dir.path(), expected, &errors), qPrintable(errors.left(4000)));
}

void TestBadInput::cleanupTestCase()
{
    qInfo("Bad input runs: %d tried, %d crashed, hung or ended badly", tried, failed);
}

QTEST_MAIN(TestBadInput)
#include "tst_badinput.moc"
