#include <epoxy/gl.h>

#include "render/shader.h"
#include "support.h"

#include <QFile>
#include <QRandomGenerator>
#include <QtTest>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

QStringList entries(const Shader &shader)
{
    QStringList lines;
    for (int i = 0; i < shader.sourceLineCount(); ++i)
        lines << QString::fromLatin1(shader.sourceLine(i));
    return lines;
}

// What the driver makes of a source handed over whole: link status and the
// two logs, in the form the view prints them.
struct Build {
    bool linked = false;
    QStringList messages;
};

Build buildWhole(const QByteArray &text)
{
    Build build;
    const GLuint program = glCreateProgram();
    const GLuint shader = glCreateShader(GL_FRAGMENT_SHADER);
    const GLchar *source = text.constData();
    const GLint length = text.size();
    glShaderSource(shader, 1, &source, &length);
    glCompileShader(shader);
    std::vector<GLchar> log(17042, '\0');
    glGetShaderInfoLog(shader, GLsizei(log.size()), nullptr, log.data());
    if (log[0])
        build.messages << QString::fromUtf8(log.data()) + ' ';
    glAttachShader(program, shader);
    glLinkProgram(program);
    std::fill(log.begin(), log.end(), '\0');
    glGetProgramInfoLog(program, GLsizei(log.size()), nullptr, log.data());
    if (log[0])
        build.messages << QString::fromUtf8(log.data()) + ' ';
    GLint status = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &status);
    build.linked = status == GL_TRUE;
    glDeleteShader(shader);
    glDeleteProgram(program);
    return build;
}

GLuint currentProgram()
{
    GLint program = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    return GLuint(program);
}

bool linked(GLuint program)
{
    GLint status = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &status);
    return status == GL_TRUE;
}

// Stand-ins for the log queries in the loader's table that write nothing,
// as a query on an object that was never created may do.
void EPOXY_CALLSPEC silentShaderLog(GLuint, GLsizei, GLsizei *, GLchar *)
{
}
void EPOXY_CALLSPEC silentProgramLog(GLuint, GLsizei, GLsizei *, GLchar *)
{
}

enum Silent { NoLogSilent, ProgramLogSilent, BothLogsSilent };

} // namespace

class TestShader : public QObject
{
    Q_OBJECT

private slots:
    void readsLines_data();
    void readsLines();
    void readsFiles();
    void reportsBadSource_data();
    void reportsBadSource();
    void keepsLineStructure_data();
    void keepsLineStructure();
    void printsLogsExactly_data();
    void printsLogsExactly();
    void deletesShaderObject();
    void buildsCorpusAsWhole_data();
    void buildsCorpusAsWhole();
};

void TestShader::readsLines_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("messages");

    QTest::newRow("two lines, final newline") << QByteArray("a\nb\n") << QStringList{"a", "b", ""} << QStringList();
    QTest::newRow("two lines, no final newline") << QByteArray("a\nb") << QStringList{"a", "b"} << QStringList();
    QTest::newRow("empty source") << QByteArray() << QStringList{""} << QStringList();
    QTest::newRow("only newlines") << QByteArray("\n\n") << QStringList{"", "", ""} << QStringList();
    QTest::newRow("CR LF like LF") << QByteArray("a\r\nb\r\n") << QStringList{"a", "b", ""} << QStringList();
    QTest::newRow("CR inside a line stays") << QByteArray("a\rb\n") << QStringList{"a\rb", ""} << QStringList();
    QTest::newRow("CR at end without newline stays") << QByteArray("a\r") << QStringList{"a\r"} << QStringList();
    QTest::newRow("CR CR LF loses one CR") << QByteArray("a\r\r\n") << QStringList{"a\r", ""} << QStringList();
    // Entries stay C strings: a NUL ends each for the compiler, and one
    // message names the first such line, counted from 1.
    QTest::newRow("NUL byte on line 2") << QByteArray("a\nb\0c\nd", 7) << QStringList{"a", "b", "d"}
                                        << QStringList{"Shader source line 2 holds a NUL byte (1 such lines): "
                                                       "the compiler sees each only up to it"};
    QTest::newRow("NUL bytes on lines 1 and 3") << QByteArray("\0a\nb\nc\0\n", 8) << QStringList{"", "b", "c", ""}
                                                << QStringList{"Shader source line 1 holds a NUL byte (2 such lines): "
                                                               "the compiler sees each only up to it"};
}

void TestShader::readsLines()
{
    QFETCH(QByteArray, source);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, messages);
    std::istringstream in(source.toStdString());
    MessageLog log;
    Shader shader;
    QVERIFY(shader.readLines(in));
    QCOMPARE(entries(shader), lines);
    QCOMPARE(log.messages, messages);
}

void TestShader::readsFiles()
{
    DataDir dir;
    const QByteArray megabyte(1 << 20, 'x');
    QVERIFY(dir.write("long.frag", megabyte + "\nend"));
    std::ifstream file("long.frag", std::ios::binary);
    Shader shader;
    QVERIFY(shader.readLines(file));
    QCOMPARE(shader.sourceLineCount(), 2);
    QCOMPARE(std::strlen(shader.sourceLine(0)), std::size_t(1 << 20));
    QCOMPARE(QByteArray(shader.sourceLine(1)), QByteArray("end"));

    // A stream that cannot be read gives no lines at all.
    std::ifstream missing("no-such-file.frag");
    Shader none;
    QVERIFY(none.readLines(missing));
    QCOMPARE(none.sourceLineCount(), 0);
}

void TestShader::reportsBadSource_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<bool>("directory");
    QTest::addColumn<QString>("expected");

    QByteArray garbage(64 * 1024, '\0');
    QRandomGenerator random(7);
    for (char &byte : garbage)
        byte = char(random.bounded(256));
    // A file that cannot be read is named, with the folder it was looked in.
    QTest::newRow("missing file") << QByteArray() << false << QString("\"test.frag\"");
    QTest::newRow("directory") << QByteArray() << true << QString("\"test.frag\"");
    QTest::newRow("binary garbage") << garbage << false << QString("error");
    static const char nul[] = "uniform sampler2D Tekstur;\nvoid main() { gl_FragColor = vec4(1.0); }\0 garbage after\nfloat x = 1.0\0;\n";
    QTest::newRow("NUL bytes inside a line") << QByteArray(nul, sizeof nul - 1) << false << QString("NUL byte");
    QTest::newRow("empty file") << QByteArray("") << false << QString("error");
}

void TestShader::reportsBadSource()
{
    QFETCH(QByteArray, source);
    QFETCH(bool, directory);
    QFETCH(QString, expected);
    DataDir dir;
    if (directory)
        QVERIFY(QDir(dir.path()).mkdir("test.frag"));
    else if (!source.isNull())
        QVERIFY(dir.write("test.frag", source));
    GLContext context;
    QVERIFY(context.isCurrent());
    MessageLog log;
    Shader shader;
    shader.load("test.frag");
    const QStringList reports = log.matching(expected);
    QVERIFY2(!reports.isEmpty(), qPrintable(log.messages.join('\n').left(2000)));
    if (expected.startsWith('"')) {
        QCOMPARE(shader.sourceLineCount(), 0);
        QCOMPARE(reports.size(), 1);
        QVERIFY2(reports[0].contains(QDir::currentPath()), qPrintable(reports[0]));
    }
}

void TestShader::keepsLineStructure_data()
{
    QTest::addColumn<QByteArray>("source");

    QTest::newRow("version line, comments, define") << QByteArray(
        "#version 110\n"
        "// threshold test shader\n"
        "#define PASS vec4(0.0, 1.0, 0.0, 1.0)\n"
        "uniform float Terskel; // from the slider\n"
        "void main()\n"
        "{\n"
        "    gl_FragColor = Terskel > 0.5 ? PASS : vec4(Terskel);\n"
        "}\n");
    QTest::newRow("no final newline") << QByteArray(
        "uniform float Terskel;\n"
        "void main() { gl_FragColor = vec4(Terskel); } // last line");
    QTest::newRow("CR LF line ends with preprocessor") << QByteArray(
        "#version 110\r\n"
        "#define SCALE 2.0\r\n"
        "uniform float Terskel;\r\n"
        "void main() { gl_FragColor = vec4(Terskel * SCALE); }\r\n");
    QTest::newRow("byte-order mark before version") << QByteArray(
        "\xEF\xBB\xBF#version 110\n"
        "uniform float Terskel;\n"
        "void main() { gl_FragColor = vec4(Terskel); }\n");
    QTest::newRow("written for joining end to end") << QByteArray(
        "uniform float Terskel;\n"
        "void main()\n"
        "{\n"
        "gl_FragColor = vec4(Terskel);\n"
        "}");
    // The compiler gets all of it: main comes last.
    const QByteArray body = "void main() { gl_FragColor = vec4(Terskel); }\n";
    QTest::newRow("one line of 10 MB") << QByteArray("uniform float Terskel; // " + QByteArray(10 << 20, 'x') + "\n" + body);
    QByteArray manyLines = "uniform float Terskel;\n";
    manyLines.reserve(12 << 20);
    for (int i = 0; i < 1000000; ++i)
        manyLines += "// short\n";
    QTest::newRow("a million short lines") << manyLines + body;
}

void TestShader::keepsLineStructure()
{
    QFETCH(QByteArray, source);
    DataDir dir;
    QVERIFY(dir.write("test.frag", source));
    GLContext context;
    MessageLog log;
    {
        Shader shader;
        shader.load("test.frag");
        shader.use();
        QVERIFY(linked(currentProgram()));
        QVERIFY(shader.uniformLocation("Terskel") >= 0);
        QCOMPARE(shader.uniformLocation("NoSuchUniform"), -1);
    }
    QVERIFY2(log.messages.isEmpty(), qPrintable(log.messages.join('\n')));
}

void TestShader::printsLogsExactly_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<int>("silent");
    QTest::addColumn<QString>("expected");

    const QByteArray compileError("uniform float Terskel;\nvoid main()\n{ gl_FragColor = vec4(Terskel) +; }\n");
    // The error stands on the file's third line, and the log says so.
    QTest::newRow("compile error") << compileError << int(NoLogSilent) << QString("0:3(");
    QTest::newRow("link-only error") << QByteArray("uniform float Terskel;\nvoid helper() { gl_FragColor = vec4(Terskel); }\n")
                                     << int(NoLogSilent) << QString("main");
    QTest::newRow("clean source") << QByteArray(stepShader) << int(NoLogSilent) << QString();
    // A query that writes nothing prints nothing, and never the log before it.
    QTest::newRow("link log query writes nothing") << compileError << int(ProgramLogSilent) << QString("0:3(");
    QTest::newRow("both log queries write nothing") << compileError << int(BothLogsSilent) << QString();
}

void TestShader::printsLogsExactly()
{
    QFETCH(QByteArray, source);
    QFETCH(int, silent);
    QFETCH(QString, expected);
    DataDir dir;
    QVERIFY(dir.write("test.frag", source));
    GLContext context;
    Build whole = buildWhole(source);
    if (silent != NoLogSilent) {
        // The driver's link log of a failed compile is not empty, so its absence shows.
        QCOMPARE(whole.messages.size(), 2);
        whole.messages = silent == ProgramLogSilent ? whole.messages.mid(0, 1) : QStringList();
    }
    MessageLog log;
    {
        EntryPointPatch shaderLog(epoxy_glGetShaderInfoLog, "glGetShaderInfoLog", silent == BothLogsSilent ? silentShaderLog : epoxy_glGetShaderInfoLog);
        EntryPointPatch programLog(epoxy_glGetProgramInfoLog, "glGetProgramInfoLog", silent != NoLogSilent ? silentProgramLog : epoxy_glGetProgramInfoLog);
        Shader shader;
        shader.load("test.frag");
    }
    QCOMPARE(log.messages, whole.messages);
    if (expected.isEmpty()) {
        QVERIFY(log.messages.isEmpty());
    } else {
        QVERIFY(!log.messages.isEmpty());
        QVERIFY2(log.messages[0].contains(expected), qPrintable(log.messages[0]));
        QVERIFY(log.messages[0].endsWith(' '));
    }
}

void TestShader::deletesShaderObject()
{
    DataDir dir;
    QVERIFY(dir.write("test.frag", stepShader));
    GLContext context;
    auto shader = std::make_unique<Shader>();
    shader->load("test.frag");
    shader->use();
    const GLuint program = currentProgram();
    GLuint attached = 0;
    GLsizei count = 0;
    glGetAttachedShaders(program, 1, &count, &attached);
    QCOMPARE(count, 1);
    GLint deleted = GL_TRUE;
    glGetShaderiv(attached, GL_DELETE_STATUS, &deleted);
    QCOMPARE(deleted, GL_FALSE);

    shader.reset();
    // Still attached to the program, which is kept, so the object is only
    // flagged; a stray delete elsewhere would leave the flag unset.
    glGetShaderiv(attached, GL_DELETE_STATUS, &deleted);
    QCOMPARE(deleted, GL_TRUE);
    QCOMPARE(glGetError(), GLenum(GL_NO_ERROR));
}

void TestShader::buildsCorpusAsWhole_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("good");
    const QString corpus = QStringLiteral(OMBREL_CORPORA "/glsl");
    int rows = 0;
    for (const char *folder : {"ok", "fail"}) {
        for (const QString &path : filesUnder(corpus + '/' + folder, "*.frag", false)) {
            QTest::newRow(qPrintable(QString(folder) + '/' + QFileInfo(path).fileName()))
                << path << (QByteArray(folder) == "ok");
            ++rows;
        }
    }
    if (rows == 0)
        QSKIP("the shared GLSL corpus is not beside this checkout");
}

void TestShader::buildsCorpusAsWhole()
{
    QFETCH(QString, path);
    QFETCH(bool, good);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    GLContext context;
    const Build whole = buildWhole(text);
    QCOMPARE(whole.linked, good);

    MessageLog log;
    Shader shader;
    shader.load(QFile::encodeName(path).constData());
    shader.use();
    glGetError();
    QCOMPARE(linked(currentProgram()), good);
    QCOMPARE(log.messages, whole.messages);
    if (good) {
        for (const QString &message : log.messages)
            QVERIFY2(!message.contains("error", Qt::CaseInsensitive), qPrintable(message));
    } else {
        QVERIFY(!log.messages.isEmpty());
    }
}

QTEST_MAIN(TestShader)
#include "tst_shader.moc"
