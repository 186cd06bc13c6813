#include "widgets/loadprogress.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QThread>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

namespace {

int &delay()
{
    static int ms = 1000;
    return ms;
}

// Often enough for the bar to move smoothly, seldom enough to cost nothing.
const int paintEveryMs = 50;
const int exposeWaitMs = 500;

} // namespace

LoadProgress::LoadProgress(const QString &file, const QElapsedTimer &started)
    : file(file), since(started)
{
}

LoadProgress::~LoadProgress()
{
    finish();
}

void LoadProgress::setDelay(int ms)
{
    delay() = ms;
}

void LoadProgress::reading(qint64 bytes, qint64 fileBytes)
{
    if (show(QString("Reading %1").arg(QFileInfo(file).fileName()), bytes, fileBytes))
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void LoadProgress::uploading(qint64 pixels, qint64 allPixels)
{
    // The window is made while the file is read, where the toolkit's events
    // can be taken; inside OpenGL callbacks it can only be painted.
    if (window)
        show("Handing the image to the GPU", pixels, allPixels);
}

void LoadProgress::finish()
{
    finished = true;
    if (window)
        window->deleteLater();
    window = nullptr;
}

bool LoadProgress::show(const QString &step, qint64 done, qint64 all)
{
    if (finished || since.elapsed() < delay())
        return false;
    const bool making = !window;
    if (making) {
        window = new QWidget(nullptr);
        window->setWindowTitle(QFileInfo(file).fileName());
        auto *layout = new QVBoxLayout(window);
        label = new QLabel(window);
        bar = new QProgressBar(window);
        bar->setRange(0, 1000);
        bar->setMinimumWidth(320);
        layout->addWidget(label);
        layout->addWidget(bar);
    } else if (painted.isValid() && painted.elapsed() < paintEveryMs && done < all) {
        return false;
    }
    painted.start();
    label->setText(step);
    bar->setValue(all > 0 ? int(qBound(qint64(0), done * 1000 / all, qint64(1000))) : 0);
    if (making) {
        window->show();
        // Nothing painted in a window shows before the display server has
        // exposed it, a moment after it is shown, and what was painted
        // before is lost: the upload, which takes no events, could pass
        // unseen. So the window waits for that moment, half a second at most.
        QElapsedTimer waited;
        waited.start();
        while (!window->windowHandle()->isExposed() && waited.elapsed() < exposeWaitMs) {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            QThread::msleep(1);
        }
    }
    // Painted now, not when the toolkit next takes its events: inside the
    // upload it takes none, and the load may be over before it does.
    window->repaint();
    return true;
}
