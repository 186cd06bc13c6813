#include "widgets/loadprogress.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>
#include <QWidget>

namespace {

int &delay()
{
    static int ms = 1000;
    return ms;
}

// Often enough for the bar to move smoothly, seldom enough to cost nothing.
const int paintEveryMs = 50;

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
    if (window && show("Handing the image to the GPU", pixels, allPixels))
        window->repaint();
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
    if (!window) {
        window = new QWidget(nullptr);
        window->setWindowTitle(QFileInfo(file).fileName());
        auto *layout = new QVBoxLayout(window);
        label = new QLabel(window);
        bar = new QProgressBar(window);
        bar->setRange(0, 1000);
        bar->setMinimumWidth(320);
        layout->addWidget(label);
        layout->addWidget(bar);
        window->show();
    } else if (painted.isValid() && painted.elapsed() < paintEveryMs && done < all) {
        return false;
    }
    painted.start();
    label->setText(step);
    bar->setValue(all > 0 ? int(qBound(qint64(0), done * 1000 / all, qint64(1000))) : 0);
    return true;
}
