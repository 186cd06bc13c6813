#include <epoxy/gl.h>

#include "app/window.h"
#include "render/glwidget.h"
#include "support.h"
#include "swapcounter.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QOpenGLContext>
#include <QScrollArea>
#include <QScrollBar>
#include <QElapsedTimer>
#include <QSlider>
#include <QtTest>

#include <memory>

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

// What the view's teardown did when it deleted its shader object.
struct Deletion {
    int calls = 0;
    GLuint shader = 0;
    QOpenGLContext *context = nullptr;
    GLint flagged = GL_FALSE;
    GLenum error = GL_NO_ERROR;
};
Deletion deletion;
void(EPOXY_CALLSPEC *realDeleteShader)(GLuint) = nullptr;

// The shader the view attached to its program, seen as it is attached:
// between frames the toolkit may leave another program current (Qt 6.8).
GLuint attachedShader = 0;
void(EPOXY_CALLSPEC *realAttachShader)(GLuint, GLuint) = nullptr;
void EPOXY_CALLSPEC recordAttachShader(GLuint program, GLuint shader)
{
    attachedShader = shader;
    realAttachShader(program, shader);
}

// Stands in for glDeleteShader in the loader's table: notes the context
// current at the call and, in that same context, what became of the name.
void EPOXY_CALLSPEC recordDeleteShader(GLuint shader)
{
    ++deletion.calls;
    deletion.shader = shader;
    deletion.context = QOpenGLContext::currentContext();
    realDeleteShader(shader);
    glGetShaderiv(shader, GL_DELETE_STATUS, &deletion.flagged);
    deletion.error = glGetError();
}

// Lets the frames of showing the window finish (on Wayland they wait for
// the compositor's frame callbacks), so that what follows counts only its own.
void settleFrames()
{
    QElapsedTimer timer;
    timer.start();
    int seen = swapCount();
    QElapsedTimer quiet;
    quiet.start();
    while (quiet.elapsed() < 200 && timer.elapsed() < 5000) {
        QTest::qWait(20);
        if (swapCount() != seen) {
            seen = swapCount();
            quiet.restart();
        }
    }
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
    void closingDeletesShaderInViewContext();

private:
    DataDir *data = nullptr;
};

void TestWindow::init()
{
    data = new DataDir;
    QVERIFY(data->writeImage(filled(512, 512, qRgb(200, 0, 0))));
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
    settleFrames();

    // Every change of value is one call of the slot and one finished frame.
    // On Wayland (Qt 6) the compositor's frame callbacks may let the toolkit
    // add a frame of its own: there every change reaches at least one.
    const bool exact = !QGuiApplication::platformName().startsWith("wayland");
    int swaps = swapCount();
    int changes = 0;
    for (int value : {100, 0, 40, 78, 79, 100}) {
        const int before = swapCount();
        slider->setValue(value);
        ++changes;
        if (exact)
            QCOMPARE(swapCount(), swaps + changes);
        else
            QVERIFY(swapCount() > before);
    }
    swaps = swapCount();
    // Setting the value it already has changes nothing.
    slider->setValue(100);
    QCOMPARE(swapCount(), swaps);

    // 100 gives threshold 1.0: nothing passes.
    QCOMPARE(grabView(*view).pixel(10, 10), qRgb(255, 0, 0));
    slider->setValue(78);
    QCOMPARE(grabView(*view).pixel(10, 10), qRgb(0, 255, 0));
    slider->setValue(79);
    QCOMPARE(grabView(*view).pixel(10, 10), qRgb(255, 0, 0));

    // Through the keyboard as a user would: one frame per step.
    swaps = swapCount();
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_Down);
    QTest::keyClick(slider, Qt::Key_Down);
    QCOMPARE(slider->value(), 77);
    if (exact)
        QCOMPARE(swapCount(), swaps + 2);
    else
        QVERIFY(swapCount() >= swaps + 2);
    QCOMPARE(grabView(*view).pixel(10, 10), qRgb(0, 255, 0));
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

void TestWindow::closingDeletesShaderInViewContext()
{
    attachedShader = 0;
    auto window = std::make_unique<Window>();
    GLuint shader = 0;
    {
        EntryPointPatch attach(epoxy_glAttachShader, recordAttachShader);
        realAttachShader = attach.real;
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QTRY_VERIFY(attachedShader != 0);
        shader = attachedShader;
    }
    auto *view = window->findChild<GLWidget *>();
    view->makeCurrent();
    QOpenGLContext *context = viewContext(*view);

    // Another context current when the window goes: the teardown must make
    // the view's own current before it deletes.
    GLContext other;
    QVERIFY(other.isCurrent());
    {
        EntryPointPatch remove(epoxy_glDeleteShader, recordDeleteShader);
        realDeleteShader = remove.real;
        window->close();
        window.reset();
    }

    QCOMPARE(deletion.calls, 1);
    QCOMPARE(deletion.shader, shader);
    QVERIFY(deletion.context == context);
    // Still attached to the program, which is kept, so OpenGL flags the
    // object for deletion rather than freeing the name at once.
    QCOMPARE(deletion.flagged, GL_TRUE);
    QCOMPARE(deletion.error, GLenum(GL_NO_ERROR));
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
