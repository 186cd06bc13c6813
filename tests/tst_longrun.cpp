// Many slider changes through the window: every change is one call of the
// slot and one finished frame, and memory does not creep. ./test runs a
// few thousand; OMBREL_LONGRUN_CHANGES=100000 gives the long run.

#include <epoxy/gl.h>

#include "app/window.h"
#include "bench/referenceview.h"
#include "render/glwidget.h"
#include "support.h"
#include "swapcounter.h"

#include <QElapsedTimer>
#include <QSlider>
#include <QtTest>

#include <fstream>
#include <malloc.h>
#include <unistd.h>

namespace {

long residentBytes()
{
    long pages = 0, resident = 0;
    std::ifstream statm("/proc/self/statm");
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

int changeCount()
{
    return qEnvironmentVariableIsSet("OMBREL_LONGRUN_CHANGES") ? qEnvironmentVariableIntValue("OMBREL_LONGRUN_CHANGES")
                                                                 : 4000;
}

} // namespace

class TestLongRun : public QObject
{
    Q_OBJECT

private slots:
    void sliderChangesKeepMemoryFlat();
    void referenceForComparison();
};

void TestLongRun::sliderChangesKeepMemoryFlat()
{
    const int changes = changeCount();
    QVERIFY(changes > 1000);
    DataDir dir;
    QVERIFY(QFile::copy(OMBREL_SAMPLE "/fibre.bmp", dir.path() + "/fibre.bmp"));
    QVERIFY(QFile::copy(OMBREL_SAMPLE "/test.frag", dir.path() + "/test.frag"));
    Window window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *slider = window.findChild<QSlider *>();
    QVERIFY(slider);

    MessageLog log;
    // Frames are counted inside each change only: exposures that the event
    // loop delivers between changes are not the slider's doing.
    int frames = 0;
    int changesWithOtherThanOneFrame = 0;
    long afterFirstThousand = 0;
    QElapsedTimer timer;
    timer.start();
    // 1..100, 0..100, ...: every step changes the value.
    for (int i = 1; i <= changes; ++i) {
        const int before = swapCount();
        slider->setValue(i % 101);
        const int drawn = swapCount() - before;
        frames += drawn;
        changesWithOtherThanOneFrame += drawn != 1;
        // As under a user's hand: the slider repaints itself between steps.
        QCoreApplication::processEvents();
        if (i == 1000)
            afterFirstThousand = residentBytes();
        if (i % (changes / 10) == 0) {
            qInfo("after %d changes: resident %ld KiB, heap in use %zu KiB", i, residentBytes() / 1024,
                  mallinfo2().uordblks / 1024);
        }
    }
    QCoreApplication::processEvents();
    const long atEnd = residentBytes();
    qInfo("%d changes, %d frames in %lld ms; resident %ld KiB after 1000, %ld KiB at the end (%+ld KiB)", changes,
          frames, timer.elapsed(), afterFirstThousand / 1024, atEnd / 1024, (atEnd - afterFirstThousand) / 1024);

    QCOMPARE(frames, changes);
    QCOMPARE(changesWithOtherThanOneFrame, 0);
    QVERIFY2(log.messages.isEmpty(), qPrintable(log.messages.join('\n')));
#if defined(__SANITIZE_ADDRESS__)
    qInfo("memory not compared: the address sanitizer's quarantine holds freed blocks on purpose");
#else
    QVERIFY(atEnd - afterFirstThousand <= 1024 * 1024);
#endif
}

void TestLongRun::referenceForComparison()
{
    const int changes = changeCount();
    ReferenceView view(OMBREL_SAMPLE "/fibre.bmp", OMBREL_SAMPLE "/test.frag");
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    long afterFirstThousand = 0;
    for (int i = 1; i <= changes; ++i) {
        view.threshold = float(i % 101 / 100.0);
        view.repaintNow();
        QCoreApplication::processEvents();
        if (i == 1000)
            afterFirstThousand = residentBytes();
        if (i % (changes / 10) == 0) {
            qInfo("reference after %d frames: resident %ld KiB, heap in use %zu KiB", i, residentBytes() / 1024,
                  mallinfo2().uordblks / 1024);
        }
    }
    const long atEnd = residentBytes();
    qInfo("reference: %d frames; resident %ld KiB after 1000, %ld KiB at the end (%+ld KiB)", changes,
          afterFirstThousand / 1024, atEnd / 1024, (atEnd - afterFirstThousand) / 1024);
}

QTEST_MAIN(TestLongRun)
#include "tst_longrun.moc"
