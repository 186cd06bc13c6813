#include <epoxy/gl.h>

#include "app/window.h"
#include "render/glwidget.h"
#include "support.h"
#include "swapcounter.h"

#include <QHBoxLayout>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QtTest>

namespace {

// Red 200 everywhere: any threshold below 200 / 255 passes and paints
// green, any above paints red.
const char *const stepShader =
    "uniform sampler2D Tekstur;\n"
    "uniform float Terskel;\n"
    "void main()\n"
    "{\n"
    "    vec4 t = texture2D(Tekstur, gl_TexCoord[0].st);\n"
    "    gl_FragColor = t.r > Terskel ? vec4(0.0, 1.0, 0.0, 1.0) : vec4(1.0, 0.0, 0.0, 1.0);\n"
    "}\n";

QImage plain(int size)
{
    QImage image(size, size, QImage::Format_RGB32);
    image.fill(qRgb(200, 0, 0));
    return image;
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void arrangesViewAndSlider();
    void sliderDrivesView();
    void scrollsWhenSmallerThanImage();

private:
    DataDir *data = nullptr;
};

void TestWindow::init()
{
    data = new DataDir;
    QVERIFY(data->writeImage(plain(512)));
    QVERIFY(data->write("test.frag", stepShader));
}

void TestWindow::cleanup()
{
    delete data;
    data = nullptr;
}

void TestWindow::arrangesViewAndSlider()
{
    Window window;
    QCOMPARE(window.metaObject()->className(), "Window");
    QCOMPARE(window.windowTitle(), QString("Ombrel GL"));
    QVERIFY(window.isWindow());

    auto *layout = qobject_cast<QHBoxLayout *>(window.layout());
    QVERIFY(layout);
    QCOMPARE(layout->count(), 2);
    auto *scrollArea = qobject_cast<QScrollArea *>(layout->itemAt(0)->widget());
    auto *slider = qobject_cast<QSlider *>(layout->itemAt(1)->widget());
    QVERIFY(scrollArea && slider);
    QCOMPARE(layout->stretch(0), 0);
    QCOMPARE(layout->stretch(1), 0);
    QVERIFY(scrollArea->widgetResizable());
    QVERIFY(qobject_cast<GLWidget *>(scrollArea->widget()));

    QCOMPARE(slider->orientation(), Qt::Vertical);
    QCOMPARE(slider->minimum(), 0);
    QCOMPARE(slider->maximum(), 100);
    QCOMPARE(slider->value(), 0);
}

void TestWindow::sliderDrivesView()
{
    Window window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *view = window.findChild<GLWidget *>();
    auto *slider = window.findChild<QSlider *>();
    QVERIFY(view && slider);
    QTRY_VERIFY(view->isVisible());

    // Every change of value is one call of the slot and one finished frame.
    int swaps = swapCount();
    int changes = 0;
    for (int value : {100, 0, 40, 78, 79, 100}) {
        slider->setValue(value);
        ++changes;
        QCOMPARE(swapCount(), swaps + changes);
    }
    // Setting the value it already has changes nothing.
    slider->setValue(100);
    QCOMPARE(swapCount(), swaps + changes);

    // 100 gives threshold 1.0: nothing passes.
    QCOMPARE(view->grabFrameBuffer().pixel(10, 10), qRgb(255, 0, 0));
    slider->setValue(78);
    QCOMPARE(view->grabFrameBuffer().pixel(10, 10), qRgb(0, 255, 0));
    slider->setValue(79);
    QCOMPARE(view->grabFrameBuffer().pixel(10, 10), qRgb(255, 0, 0));

    // Through the keyboard as a user would: one frame per step.
    swaps = swapCount();
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_Down);
    QTest::keyClick(slider, Qt::Key_Down);
    QCOMPARE(slider->value(), 77);
    QCOMPARE(swapCount(), swaps + 2);
    QCOMPARE(view->grabFrameBuffer().pixel(10, 10), qRgb(0, 255, 0));
}

void TestWindow::scrollsWhenSmallerThanImage()
{
    Window window;
    window.resize(300, 250);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *scrollArea = window.findChild<QScrollArea *>();
    auto *view = window.findChild<GLWidget *>();
    QTRY_COMPARE(view->size(), QSize(512, 512));
    QVERIFY(scrollArea->horizontalScrollBar()->isVisible());
    QVERIFY(scrollArea->verticalScrollBar()->isVisible());

    // Larger than the image: the view stretches to the viewport.
    window.resize(900, 800);
    QTRY_COMPARE(view->size(), scrollArea->viewport()->size());
    QVERIFY(view->width() > 512 && view->height() > 512);
    QVERIFY(!scrollArea->horizontalScrollBar()->isVisible());
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
