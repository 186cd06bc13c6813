#ifndef TESTS_SUPPORT_H
#define TESTS_SUPPORT_H

// Helpers shared by the suites: messages, data folders, a GL context, colour
// checks, image makers, shaders, a patch of a GL entry point, limits, frames.

#include <epoxy/gl.h>

#include "app/window.h"
#include "framegrab.h"

#include <QByteArray>
#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QtGlobal>

#include <cstdlib>

#include <dlfcn.h>

// Collects every debug message while it lives, byte for byte as the
// handler receives it, and the toolkit's warnings, which go on to be printed.
class MessageLog
{
public:
    MessageLog() { previous = qInstallMessageHandler(&MessageLog::handle); current() = this; }
    ~MessageLog()
    {
        qInstallMessageHandler(previous);
        current() = nullptr;
    }
    QStringList messages;
    QStringList warnings;
    // Messages containing the given text.
    QStringList matching(const QString &text) const { return messages.filter(text); }

private:
    static MessageLog *&current()
    {
        static MessageLog *log = nullptr;
        return log;
    }
    // On GNOME Shell the compositor's text input may leave a window a suite
    // has already destroyed (the row before's), which the toolkit notes; the
    // program has one window, and its whole standard error is checked apart.
    static bool aboutGoneWindow(const QMessageLogContext &context, const QString &message)
    {
        return qstrcmp(context.category, "qt.qpa.wayland.textinput") == 0 && message.contains("leave event for surface 0x0");
    }
    // Debug messages are the ones under test; the rest go on to be printed.
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (current() && type == QtDebugMsg) {
            current()->messages << message;
            return;
        }
        if (current() && type != QtInfoMsg && !aboutGoneWindow(context, message))
            current()->warnings << message;
        if (current() && current()->previous)
            current()->previous(type, context, message);
    }
    QtMessageHandler previous;
};

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A fresh temporary directory made the working directory, for the files the
// view reads by bare name; the old working directory comes back afterwards.
class DataDir
{
public:
    // Named as the prefix says where one is given.
    explicit DataDir(const QString &prefix = QString())
        : dir(QDir::tempPath() + '/' + (prefix.isEmpty() ? QCoreApplication::applicationName() : prefix) + "-XXXXXX"),
          previous(QDir::currentPath())
    {
        QDir::setCurrent(dir.path());
    }
    ~DataDir() { QDir::setCurrent(previous); }
    QString path() const { return dir.path(); }
    bool write(const QString &name, const QByteArray &bytes) const { return writeFile(dir.filePath(name), bytes); }
    bool writeImage(const QImage &image) const { return image.save(dir.filePath("fibre.bmp"), "BMP"); }
    // The bundled sample's file of that name.
    bool copySample(const QString &name) const { return QFile::copy(QStringLiteral(OMBREL_SAMPLE "/") + name, dir.filePath(name)); }

private:
    QTemporaryDir dir;
    QString previous;
};

// Has the session's compositor resize (WIDTHxHEIGHT, logical pixels) or
// maximise ("maximize") the window "Ombrel GL" as a person does it, where the
// session offers that (tools/session.sh: OMBREL_WINDOW_SIZE).
inline bool resizedByDesktop(const QString &size)
{
    QStringList command = QProcess::splitCommand(qEnvironmentVariable("OMBREL_WINDOW_SIZE"));
    if (command.isEmpty())
        return false;
    const QString program = command.takeFirst();
    return QProcess::execute(program, command << "Ombrel GL" << size) == 0;
}

// An offscreen compatibility context made current, for code that needs one
// but no widget.
class GLContext
{
public:
    GLContext()
    {
        surface.create();
        context.create();
        context.makeCurrent(&surface);
    }
    ~GLContext() { context.doneCurrent(); }
    bool isCurrent() const { return QOpenGLContext::currentContext() == &context; }

private:
    QOffscreenSurface surface;
    QOpenGLContext context;
};

// The files of a folder matching a pattern, those below it too where
// asked, sorted, so that rows keep their order.
inline QStringList filesUnder(const QString &folder, const QString &pattern, bool below = true)
{
    QDirIterator files(folder, {pattern}, QDir::Files, below ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags);
    QStringList paths;
    while (files.hasNext())
        paths << files.next();
    paths.sort();
    return paths;
}

// Colours as drawn: each channel within a few steps of the expected.
inline bool near(QRgb actual, QRgb expected, int slack = 3)
{
    return std::abs(qRed(actual) - qRed(expected)) <= slack && std::abs(qGreen(actual) - qGreen(expected)) <= slack
        && std::abs(qBlue(actual) - qBlue(expected)) <= slack;
}

inline QString describe(QRgb colour)
{
    return QString("(%1, %2, %3)").arg(qRed(colour)).arg(qGreen(colour)).arg(qBlue(colour));
}

// An opaque image of one colour.
inline QImage filled(int width, int height, QRgb colour)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// Every pixel differs from its neighbours, alpha too in a format that has
// it, in all sixteen bits of 16-bit grey; the same seed gives the same image.
inline QImage noise(int width, int height, QImage::Format format, quint32 seed)
{
    if (format == QImage::Format_Grayscale16) {
        QImage grey(width, height, format);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                seed = seed * 1664525u + 1013904223u;
                reinterpret_cast<quint16 *>(grey.scanLine(y))[x] = quint16(seed >> 16);
            }
        return grey;
    }
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            image.setPixel(x, y, qRgba(seed >> 24, seed >> 16, seed >> 8, seed >> 1));
        }
    return image.convertToFormat(format);
}

// A step over the red channel, with a version line, a comment and a macro
// as real shaders have: texels whose red passes Terskel turn green, the rest
// keep their red and blue.
inline const char *const stepShader = "#version 110\n"
                                      "// step over the red channel\n"
                                      "#define PASS(t) vec4(0.0, 1.0, t.b, 1.0)\n"
                                      "uniform sampler2D Tekstur;\n"
                                      "uniform float Terskel;\n"
                                      "void main() { vec4 t = texture2D(Tekstur, gl_TexCoord[0].st);\n"
                                      "    gl_FragColor = t.r > Terskel ? PASS(t) : vec4(t.r, 0.0, t.b, 1.0); }\n";

// The lower byte of a 16-bit grey texel, as grey.
inline const char *const lowByteShader = "uniform sampler2D Tekstur;\n"
                                         "uniform float Terskel;\n"
                                         "void main() { float texel = floor(texture2D(Tekstur, gl_TexCoord[0].st).r * 65535.0 + 0.5);\n"
                                         "    gl_FragColor = vec4(vec3(mod(texel, 256.0) / 255.0), 1.0); }\n";

// Text a shader can hold to say that the view initialised past its upload:
// without "Terskel" the view reports that the slider cannot reach it.
inline const char *const missingTerskelShader =
    "uniform sampler2D Tekstur;\nvoid main() { gl_FragColor = texture2D(Tekstur, gl_TexCoord[0].st); }\n";

// Stands in for an entry point of the GL loader's table while it lives, and
// puts the loader's own back however the test ends. The real function is the
// GL library's: the loader resolves an entry on its first call through its
// own table, which would then hold the stand-in.
template <typename Pointer>
class EntryPointPatch
{
public:
    EntryPointPatch(Pointer &entry, const char *name, Pointer replacement)
        : real(reinterpret_cast<Pointer>(dlsym(RTLD_DEFAULT, name))), loaders(entry), entry(entry)
    {
        entry = replacement;
    }
    ~EntryPointPatch() { entry = loaders; }
    EntryPointPatch(const EntryPointPatch &) = delete;
    EntryPointPatch &operator=(const EntryPointPatch &) = delete;
    const Pointer real;

private:
    const Pointer loaders;
    Pointer &entry;
};

// A driver whose render targets, viewport or textures are no larger than
// these, where not 0: a stand-in for glGetIntegerv, patched in with
// EntryPointPatch (realGetIntegerv set to its real function).
inline GLint fakeRenderbuffer = 0;
inline GLint fakeViewport = 0;
inline GLint fakeTexture = 0;
inline void(EPOXY_CALLSPEC *realGetIntegerv)(GLenum, GLint *) = nullptr;
inline void EPOXY_CALLSPEC limitedGetIntegerv(GLenum name, GLint *value)
{
    realGetIntegerv(name, value);
    if (name == GL_MAX_RENDERBUFFER_SIZE && fakeRenderbuffer > 0)
        value[0] = fakeRenderbuffer;
    if (name == GL_MAX_VIEWPORT_DIMS && fakeViewport > 0)
        value[0] = value[1] = fakeViewport;
    if (name == GL_MAX_TEXTURE_SIZE && fakeTexture > 0)
        value[0] = fakeTexture;
}

// The largest drawable the driver and X11 make, in device pixels a side, as
// a context of the test's own reports the driver's limits.
inline int largestDrawableSide()
{
    GLContext context;
    GLint renderbuffer = 0, viewport[2] = {0, 0};
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &renderbuffer);
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, viewport);
    return qMin(32767, qMin(renderbuffer, viewport[0]));
}

// Whether a frame follows the given count of frames within the time: the
// view's first, say, once its window is shown.
inline bool frameAfter(int frames, int ms = 20000)
{
    QElapsedTimer timer;
    timer.start();
    while (framegrabFrames() <= frames && timer.elapsed() < ms)
        QTest::qWait(10);
    return framegrabFrames() > frames;
}

// Frames read back before their swap while it lives (framegrab.c).
class KeptFrames
{
public:
    KeptFrames() { framegrabKeep(1); }
    ~KeptFrames() { framegrabKeep(0); }
    // The last one, in device pixels; null before the first.
    static QImage last()
    {
        int width = 0;
        int height = 0;
        const uchar *pixels = framegrabLast(&width, &height);
        QImage frame(width, height, QImage::Format_RGB32);
        for (int y = 0; pixels && y < height; ++y) {
            const uchar *row = pixels + std::size_t(height - 1 - y) * width * 3;
            QRgb *out = reinterpret_cast<QRgb *>(frame.scanLine(y));
            for (int x = 0; x < width; ++x)
                out[x] = qRgb(row[3 * x], row[3 * x + 1], row[3 * x + 2]);
        }
        return pixels ? frame : QImage();
    }
};

// The real window shown on the working directory's files and closed again,
// and the messages it gave: the view reports a shader without "Terskel" once
// it is past its upload.
inline QStringList shownMessages()
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

#endif
