#ifndef TESTS_SUPPORT_H
#define TESTS_SUPPORT_H

// Small helpers shared by the suites: a message handler of the tests' own,
// a working directory holding chosen data files, and a current GL context.

#include <QByteArray>
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

// A fresh temporary directory made the working directory, for the files the
// view reads by bare name; the old working directory comes back afterwards.
class DataDir
{
public:
    DataDir() : previous(QDir::currentPath()) { QDir::setCurrent(dir.path()); }
    ~DataDir() { QDir::setCurrent(previous); }
    QString path() const { return dir.path(); }
    bool write(const QString &name, const QByteArray &bytes) const
    {
        QFile file(dir.filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }
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

// Every BMP below a folder, sorted, so that rows keep their order.
inline QStringList bmpFilesUnder(const QString &folder)
{
    QDirIterator files(folder, {"*.bmp"}, QDir::Files, QDirIterator::Subdirectories);
    QStringList paths;
    while (files.hasNext())
        paths << files.next();
    paths.sort();
    return paths;
}

#endif
