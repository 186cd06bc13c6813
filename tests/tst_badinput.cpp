// Bad images and shaders served to the real window in this process: whatever
// the file, the view shows, reports what went wrong and goes on, and closes.

#include <epoxy/gl.h>

#include "app/window.h"
#include "render/toolkit.h"
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

// The window shown on the folder's files and closed again: the messages it
// gave. The view reports the missing "Terskel" once it is past its upload.
QStringList shownMessages()
{
    MessageLog log;
    {
        Window window;
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            return {"the window was never shown"};
        QElapsedTimer timer;
        timer.start();
        while (log.matching("slider cannot reach the shader").isEmpty() && timer.elapsed() < 20000)
            QTest::qWait(10);
        window.close();
    }
    return log.messages;
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
};

void TestBadInput::initTestCase()
{
    // What the view decodes, the reader here decodes too.
    Toolkit::allowLargeImages();
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

    // A file the reader refuses is reported; an image larger than the
    // driver makes a drawable of is said to be, where the drawable is the
    // whole image's (Qt 5).
    QStringList expected{"slider cannot reach the shader"};
    const QImage image = QImageReader(dir.path() + "/fibre.bmp").read();
    if (image.isNull())
        expected << "\"fibre.bmp\"";
    else if (Toolkit::viewIsNativeWindow() && qRound(qMax(image.width(), image.height()) * qApp->devicePixelRatio()) > largestDrawableSide())
        expected << "its view needs";
    const QStringList messages = shownMessages();
    for (const QString &text : expected)
        QVERIFY2(!messages.filter(text).isEmpty(), qPrintable(text + " not in:\n" + messages.join('\n')));
    QVERIFY2(messages.filter("glError").isEmpty(), qPrintable(messages.join('\n')));
}

void TestBadInput::servesShader_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<bool>("directory");
    // Texts the messages hold; none for a valid shader, whose messages then
    // hold no error.
    QTest::addColumn<QStringList>("expected");

    const QByteArray uniform = "uniform sampler2D Tekstur;\n";
    const QByteArray body = "void main() { gl_FragColor = texture2D(Tekstur, gl_TexCoord[0].st); }\n";
    QByteArray garbage(64 * 1024, '\0');
    QRandomGenerator random(7);
    for (char &byte : garbage)
        byte = char(random.bounded(256));
    QTest::newRow("binary garbage") << garbage << false << QStringList{"error"};
    QTest::newRow("NUL bytes inside a line")
        << QByteArray(uniform + "void main() { gl_FragColor = vec4(1.0); }\0 garbage after\n" + "float x = 1.0\0;\n", 84)
        << false << QStringList{"NUL byte"};
    QTest::newRow("one line of 10 MB") << QByteArray(uniform + "// " + QByteArray(10 << 20, 'x') + "\n" + body) << false
                                       << QStringList();
    // The compiler must see all of it: main comes last.
    QByteArray manyLines = uniform;
    manyLines.reserve(12 << 20);
    for (int i = 0; i < 1000000; ++i)
        manyLines += "// short\n";
    manyLines += body;
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
    QVERIFY(dir.copySample("fibre.bmp"));
    if (directory)
        QVERIFY(QDir(dir.path()).mkdir("test.frag"));
    else
        QVERIFY(dir.write("test.frag", source));
    const QStringList messages = shownMessages();
    const QString all = messages.join('\n').left(4000);
    for (const QString &text : expected)
        QVERIFY2(!messages.filter(text).isEmpty(), qPrintable(text + " not in:\n" + all));
    if (expected.isEmpty())
        QVERIFY2(messages.filter("error", Qt::CaseInsensitive).isEmpty(), qPrintable(all));
}

QTEST_MAIN(TestBadInput)
#include "tst_badinput.moc"
