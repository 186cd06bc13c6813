// bench_repaint [--quick] FOLDER
// The cost of one sett_terskel call through to a finished frame, beside
// the least the same context allows: the same quad drawn and swapped with
// the uniform set once. FOLDER holds fibre.bmp and test.frag. Prints
//   repaint <W>x<H> <frames> <median us> <reference median us> <ratio>

#include <epoxy/gl.h>

#include "bench/referenceview.h"
#include "render/glwidget.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

#if QT_VERSION_MAJOR >= 6
// Qt 6's widget has no swap of its own: the least is a reference view's
// frame through the same composition.
void referenceFrame(ReferenceView &reference)
{
    reference.repaintNow();
    glFinish();
}
#else
void referenceFrame(GLWidget &view)
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    drawReferenceQuad(float(view.width()), float(view.height()));
    view.swapBuffers();
    glFinish();
}
#endif

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const int folderArg = quick ? 2 : 1;
    if (argc <= folderArg) {
        std::fprintf(stderr, "usage: bench_repaint [--quick] FOLDER\n");
        return 2;
    }
    QDir::setCurrent(QString::fromLocal8Bit(argv[folderArg]));
    const int rounds = quick ? 2 : 9;
    const int frames = quick ? 10 : 100;

    for (const QSize size : {QSize(512, 512), QSize(1920, 1080)}) {
        GLWidget view;
        view.resize(size);
        view.show();
        if (!QTest::qWaitForWindowExposed(&view)) {
            std::fprintf(stderr, "bench_repaint: the view was never shown\n");
            return 1;
        }
        QApplication::processEvents();
#if QT_VERSION_MAJOR >= 6
        ReferenceView referenceView("fibre.bmp", "test.frag");
        referenceView.resize(size);
        referenceView.show();
        if (!QTest::qWaitForWindowExposed(&referenceView)) {
            std::fprintf(stderr, "bench_repaint: the reference was never shown\n");
            return 1;
        }
        ReferenceView &frameOf = referenceView;
#else
        GLWidget &frameOf = view;
#endif
        std::vector<double> ours, reference;
        int value = 0;
        for (int round = 0; round < rounds; ++round) {
            // Rounds alternate so that drift on a shared machine hits both.
            for (int i = 0; i < frames; ++i) {
                QElapsedTimer timer;
                timer.start();
                view.sett_terskel(++value % 101);
                glFinish();
                ours.push_back(timer.nsecsElapsed() / 1000.0);
            }
#if QT_VERSION_MAJOR < 6
            view.makeCurrent();
            glUniform1f(glGetUniformLocation(GLuint([] {
                                                  GLint program = 0;
                                                  glGetIntegerv(GL_CURRENT_PROGRAM, &program);
                                                  return program;
                                              }()),
                                              "Terskel"),
                        0.5f);
#endif
            for (int i = 0; i < frames; ++i) {
                QElapsedTimer timer;
                timer.start();
                referenceFrame(frameOf);
                reference.push_back(timer.nsecsElapsed() / 1000.0);
            }
        }
        const double a = median(ours), b = median(reference);
        std::printf("repaint\t%dx%d\t%zu\t%.1f\t%.1f\t%.3f\n", size.width(), size.height(), ours.size(), a, b, a / b);
        std::fflush(stdout);
    }
    return 0;
}
