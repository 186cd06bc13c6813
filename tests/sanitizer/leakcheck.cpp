// Run by the sanitized suite with its leak suppressions: the libraries'
// own leaks at exit are suppressed, and a leak of ours must still be
// reported. The view is shown first so that the toolkit and the driver
// set up everything whose leaks the suppressions name.
#include <epoxy/gl.h>

#include "render/glwidget.h"
#include "render/shader.h"
#include "../support.h"

#include <QApplication>
#include <QtTest>

namespace {

// Loaded, then dropped without its destructor: the object and the source
// lines it holds are lost, allocated by our own code.
__attribute__((noinline)) void leakShader()
{
    Shader *volatile shader = new Shader;
    shader->load("test.frag");
    shader = nullptr;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    DataDir dir;
    if (!dir.write("test.frag", "void main()\n{ gl_FragColor = vec4(1.0); }\n") || !dir.writeImage(QImage(16, 16, QImage::Format_RGB32)))
        return 1;
    GLWidget view;
    const int shown = framegrabFrames();
    view.show();
    if (!QTest::qWaitForWindowExposed(&view) || !frameAfter(shown))
        return 1;
    view.makeCurrent();
    leakShader();
    return 0;
}
