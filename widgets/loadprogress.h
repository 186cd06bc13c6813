#ifndef LOADPROGRESS_H
#define LOADPROGRESS_H

#include <QElapsedTimer>
#include <QPointer>
#include <QString>

class QLabel;
class QProgressBar;
class QWidget;

// How far a long load of the image has come, in a small window named for
// the file: first the reader's place in the file, then the texture's rows
// as they go up. The window comes only once the load has taken about a
// second, and goes when the viewer's window shows; a quick load shows
// nothing of it.
class LoadProgress
{
public:
    // The load began when the clock was started.
    LoadProgress(const QString &file, const QElapsedTimer &started);
    ~LoadProgress();
    LoadProgress(const LoadProgress &) = delete;
    LoadProgress &operator=(const LoadProgress &) = delete;

    // While the file is read, before the viewer's window shows: the window
    // is shown where it is due, once exposed, and painted; the toolkit's
    // events are taken meanwhile.
    void reading(qint64 bytes, qint64 fileBytes);
    // While the texture goes up, inside the view's OpenGL callbacks: the
    // window, where it is up, is painted anew and no events are taken.
    void uploading(qint64 pixels, qint64 allPixels);
    // The viewer's window shows: the window goes.
    void finish();

    // How long a load runs before the window comes; tests shorten it.
    static void setDelay(int ms);

private:
    // The window at this step, made where it is due; false where it is not.
    bool show(const QString &step, qint64 done, qint64 all);

    QString file;
    QElapsedTimer since;
    QElapsedTimer painted;
    QPointer<QWidget> window;
    QLabel *label = nullptr;
    QProgressBar *bar = nullptr;
    bool finished = false;
};

#endif
