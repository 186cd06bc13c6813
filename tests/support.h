#ifndef TESTS_SUPPORT_H
#define TESTS_SUPPORT_H

// Helpers shared by the suites: messages, data folders, a GL context, colour
// checks, image makers, shaders, a patch of a GL entry point, limits.

#include <epoxy/gl.h>

#include "render/toolkit.h"

#include <QByteArray>
#include <QColor>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QtGlobal>

#include <cstdlib>
#include <memory>

// What the suites need of the toolkit's OpenGL widget, whichever it is:
// its frame as drawn (in device pixels) and its context.
template <typename View>
QImage grabView(View &view)
{
#if QT_VERSION_MAJOR >= 6
    return view.grabFramebuffer();
#else
    return view.grabFrameBuffer();
#endif
}

template <typename View>
QOpenGLContext *viewContext(View &view)
{
#if QT_VERSION_MAJOR >= 6
    return view.context();
#else
    return view.context()->contextHandle();
#endif
}

// Collects every debug message while it lives, byte for byte as the
// handler receives it.
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
    // Messages containing the given text.
    QStringList matching(const QString &text) const { return messages.filter(text); }

private:
    static MessageLog *&current()
    {
        static MessageLog *log = nullptr;
        return log;
    }
    // Debug messages are the ones under test; the rest go on to be printed.
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (current() && type == QtDebugMsg)
            current()->messages << message;
        else if (current() && current()->previous)
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
    DataDir() : previous(QDir::currentPath()) { QDir::setCurrent(dir.path()); }
    ~DataDir() { QDir::setCurrent(previous); }
    QString path() const { return dir.path(); }
    bool write(const QString &name, const QByteArray &bytes) const { return writeFile(dir.filePath(name), bytes); }
    bool writeImage(const QImage &image) const { return image.save(dir.filePath("fibre.bmp"), "BMP"); }

private:
    QTemporaryDir dir;
    QString previous;
};

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
// it; the same seed gives the same image.
inline QImage noise(int width, int height, QImage::Format format, quint32 seed)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            image.setPixel(x, y, qRgba(seed >> 24, seed >> 16, seed >> 8, seed >> 1));
        }
    return image.convertToFormat(format);
}

// The sampled image times the threshold: a shader with both uniforms whose
// picture needs no particular image.
inline const char *scaledShader()
{
    return "uniform sampler2D Tekstur;\n"
           "uniform float Terskel;\n"
           "void main()\n"
           "{\n"
           "    gl_FragColor = texture2D(Tekstur, gl_TexCoord[0].st) * Terskel;\n"
           "}\n";
}

// Stands in for an entry point of the GL loader's table while it lives,
// and puts the real one back however the test ends.
template <typename Pointer>
class EntryPointPatch
{
public:
    EntryPointPatch(Pointer &entry, Pointer replacement) : real(entry), entry(entry) { entry = replacement; }
    ~EntryPointPatch() { entry = real; }
    EntryPointPatch(const EntryPointPatch &) = delete;
    EntryPointPatch &operator=(const EntryPointPatch &) = delete;
    const Pointer real;

private:
    Pointer &entry;
};

// One of the driver's limits, as a context of the test's own reports it.
inline int glLimit(GLenum name)
{
    GLContext context;
    GLint value = 0;
    glGetIntegerv(name, &value);
    return value;
}

// The largest view the toolkit makes, in device pixels a side: an X11
// window for Qt 5, the driver's largest off-screen buffer for Qt 6.
inline int largestViewSide()
{
    return Toolkit::viewIsNativeWindow() ? 32767 : qMin(glLimit(GL_MAX_TEXTURE_SIZE), glLimit(GL_MAX_RENDERBUFFER_SIZE));
}

#endif
