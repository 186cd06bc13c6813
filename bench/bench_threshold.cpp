// bench_threshold [--quick | --changes N] [--maximised | --seen WxH] FOLDER
// A threshold change as a person makes it: the real window (Window, its
// scroll area and slider) at its first size, filling the screen as a
// maximised window does, or sized so that its scroll area shows WxH of the
// view (the same image pixels in any build), on the image in FOLDER. Prints
// one row:
//   threshold <side> <window WxH> <changes> <frames> <median us> <p90 us> <drag ms> <peak KiB> <seen WxH>
// one slider step to its finished frame (median, 90th percentile), the
// frames those steps made, 100 changes queued at once as a quick drag
// queues them (from queuing to the last finished frame), and the process's
// peak resident memory, start-up included. --changes makes a run long
// enough to profile.

#include <epoxy/gl.h>

#include "app/window.h"
#include "render/glwidget.h"
#include "framegrab.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMetaObject>
#include <QOpenGLContext>
#include <QScreen>
#include <QScrollArea>
#include <QSlider>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(p * values.size()))];
}

long peakKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

// The frame is finished when the driver has done its work.
void finish()
{
    if (QOpenGLContext::currentContext())
        glFinish();
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    int changes = 200;
    bool maximised = false;
    QSize seen;
    const char *folder = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0)
            changes = 20;
        else if (std::strcmp(argv[i], "--changes") == 0 && i + 1 < argc)
            changes = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--maximised") == 0)
            maximised = true;
        else if (std::strcmp(argv[i], "--seen") == 0 && i + 1 < argc && std::sscanf(argv[i + 1], "%dx%d", &seen.rwidth(), &seen.rheight()) == 2)
            ++i;
        else
            folder = argv[i];
    }
    if (!folder) {
        std::fprintf(stderr, "usage: bench_threshold [--quick | --changes N] [--maximised | --seen WxH] FOLDER\n");
        return 2;
    }
    QDir::setCurrent(QString::fromLocal8Bit(folder));

    Window window;
    if (maximised)
        window.setGeometry(window.screen()->availableGeometry());
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        std::fprintf(stderr, "bench_threshold: the window was never shown\n");
        return 1;
    }
    auto *slider = window.findChild<QSlider *>();
    auto *view = window.findChild<GLWidget *>();
    auto *area = window.findChild<QScrollArea *>();
    // Let the frames of showing the window go by.
    QTest::qWait(300);
    QApplication::processEvents();
    if (seen.isValid()) {
        // The window grows or shrinks by what the scroll area's viewport is
        // off: the frame, the bars and the slider stay as they are.
        for (int tries = 0; tries < 3 && area->viewport()->size() != seen; ++tries) {
            window.resize(window.size() + seen - area->viewport()->size());
            QTest::qWait(300);
        }
        if (area->viewport()->size() != seen) {
            std::fprintf(stderr, "bench_threshold: the window shows %dx%d of the view, not %dx%d\n", area->viewport()->width(),
                         area->viewport()->height(), seen.width(), seen.height());
            return 1;
        }
    }

    int value = slider->value();
    auto step = [&]() {
        value = value == 100 ? 1 : value + 1;
        slider->setValue(value);
    };
    for (int i = 0; i < 10; ++i)
        step();
    finish();

    std::vector<double> us;
    const int before = framegrabFrames();
    for (int i = 0; i < changes; ++i) {
        QElapsedTimer timer;
        timer.start();
        step();
        finish();
        us.push_back(timer.nsecsElapsed() / 1000.0);
    }
    const int frames = framegrabFrames() - before;

    // A drag: the changes wait in the queue together, as mouse moves do
    // while a frame is being drawn, and each is drawn in turn.
    QElapsedTimer drag;
    drag.start();
    for (int i = 0; i < 100; ++i) {
        value = value == 100 ? 1 : value + 1;
        QMetaObject::invokeMethod(slider, "setValue", Qt::QueuedConnection, Q_ARG(int, value));
    }
    QCoreApplication::sendPostedEvents();
    finish();
    const double dragMs = drag.nsecsElapsed() / 1e6;

    std::printf("threshold\t%d\t%dx%d\t%d\t%d\t%.1f\t%.1f\t%.1f\t%ld\t%dx%d\n", view->sizeHint().width(), window.width(),
                window.height(), changes, frames, percentile(us, 0.5), percentile(us, 0.9), dragMs, peakKiB(),
                area->viewport()->width(), area->viewport()->height());
    std::fflush(stdout);
    return 0;
}
