// Many slider changes through the window: every change is one call of the
// slot and one finished frame, and memory does not creep. ./test runs a
// few thousand; OMBREL_LONGRUN_CHANGES=100000 gives the long run.

#include <epoxy/gl.h>

#include "app/window.h"
#include "bench/referenceview.h"
#include "render/glwidget.h"
#include "support.h"

#include <QSlider>
#include <QtTest>

#include <fstream>
#include <functional>
#include <malloc.h>
#include <unistd.h>
#if defined(__SANITIZE_ADDRESS__)
// The address sanitizer's allocator counts what the program holds, its
// quarantine of freed blocks left out; malloc's statistics see none of it.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#define HEAP_IN_USE __sanitizer_get_current_allocated_bytes()
#else
#define HEAP_IN_USE mallinfo2().uordblks
#endif

namespace {

// Resident memory and the heap in use, in KiB.
struct Memory {
    long resident = 0;
    long heap = 0;
};

Memory memoryNow()
{
    long pages = 0, resident = 0;
    std::ifstream statm("/proc/self/statm");
    statm >> pages >> resident;
    return {resident * sysconf(_SC_PAGESIZE) / 1024, long(HEAP_IN_USE / 1024)};
}

int changeCount()
{
    return qEnvironmentVariableIsSet("OMBREL_LONGRUN_CHANGES") ? qEnvironmentVariableIntValue("OMBREL_LONGRUN_CHANGES")
                                                                 : 4000;
}

// Makes the changes, 1..100, 0..100, ..., the event loop running between
// them as under a user's hand; what memory grew by from the 1000th on.
Memory growth(const char *who, const std::function<void(int)> &change)
{
    const int changes = changeCount();
    Memory afterFirstThousand;
    for (int i = 1; i <= changes; ++i) {
        change(i % 101);
        QCoreApplication::processEvents();
        if (i == 1000)
            afterFirstThousand = memoryNow();
        if (i % (changes / 10) == 0)
            qInfo("%s after %d changes: resident %ld KiB, heap in use %ld KiB", who, i, memoryNow().resident, memoryNow().heap);
    }
    const Memory atEnd = memoryNow();
    qInfo("%s: %d changes; resident %+ld KiB, heap in use %+ld KiB since the 1000th", who, changes,
          atEnd.resident - afterFirstThousand.resident, atEnd.heap - afterFirstThousand.heap);
    return {atEnd.resident - afterFirstThousand.resident, atEnd.heap - afterFirstThousand.heap};
}

} // namespace

class TestLongRun : public QObject
{
    Q_OBJECT

private slots:
    void sliderChangesKeepMemoryFlat();
};

// The driver and the toolkit take memory in steps of their own over the
// first tens of thousands of frames: the reference view runs first and shows
// what those come to here. A leak of the viewer's shows in its heap beyond.
void TestLongRun::sliderChangesKeepMemoryFlat()
{
    QVERIFY(changeCount() > 1000);
    DataDir dir;
    QVERIFY(dir.copySample("fibre.bmp"));
    QVERIFY(dir.copySample("test.frag"));
    Memory reference;
    {
        ReferenceView view("fibre.bmp", "test.frag");
        view.resize(200, 200);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        reference = growth("reference", [&](int value) {
            view.threshold = float(value / 100.0);
            view.repaintNow();
        });
    }

    // Small windows: what a change costs is not the question here.
    Window window;
    window.resize(200, 200);
    const int shown = framegrabFrames();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window) && frameAfter(shown));
    auto *slider = window.findChild<QSlider *>();
    QVERIFY(slider);
    MessageLog log;
    // Frames are counted inside each change only: exposures that the event
    // loop delivers between changes are not the slider's doing.
    int frames = 0;
    int changesWithOtherThanOneFrame = 0;
    const Memory viewer = growth("viewer", [&](int value) {
        const int before = framegrabFrames();
        slider->setValue(value);
        frames += framegrabFrames() - before;
        changesWithOtherThanOneFrame += framegrabFrames() - before != 1;
    });

    QCOMPARE(frames, changeCount());
    QCOMPARE(changesWithOtherThanOneFrame, 0);
    QVERIFY2(log.messages.isEmpty(), qPrintable(log.messages.join('\n')));
    QVERIFY2(viewer.heap <= 1024 + qMax(0L, reference.heap),
             qPrintable(QString("heap in use grew %1 KiB, the reference's %2 KiB").arg(viewer.heap).arg(reference.heap)));
}

QTEST_MAIN(TestLongRun)
#include "tst_longrun.moc"
