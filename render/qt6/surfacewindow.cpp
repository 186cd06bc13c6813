#include <epoxy/gl.h>

#include "surfacewindow.h"
#include "toolkitview.h"

#include <QCoreApplication>
#include <QEvent>
#include <QOpenGLContext>
#include <QSurfaceFormat>

SurfaceWindow::SurfaceWindow(ToolkitView &view)
    : view(view)
{
    setFlag(Qt::WindowTransparentForInput);
    setFlag(Qt::WindowDoesNotAcceptFocus);
    // Nothing is drawn with depth or stencil. Eight bits a colour, asked
    // for: left to the driver, EGL lists its 16-bit configurations first,
    // and on GNOME the view would show the image in 5, 6 and 5 bits.
    QSurfaceFormat format = QSurfaceFormat::defaultFormat();
    format.setDepthBufferSize(0);
    format.setStencilBufferSize(0);
    format.setRedBufferSize(8);
    format.setGreenBufferSize(8);
    format.setBlueBufferSize(8);
    setFormat(format);
}

void SurfaceWindow::drawNow()
{
    if (!isExposed())
        return;
    update();
    QEvent request(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(this, &request);
}

// The view is initialised with the first frame whose context is current:
// the toolkit makes the context at the window's first resize, which may
// come before the window itself, and then cannot make it current.
void SurfaceWindow::paintGL()
{
    if (!initialized && context() == QOpenGLContext::currentContext()) {
        initialized = true;
        view.surfaceInitialized();
    }
    if (initialized)
        view.paintGL();
}

// Without its native window (not made yet, or gone with a window closed at
// once), Qt 6.4 would make the context on a resize with nothing to make it
// current on, and paints queued exposures into it: a crash.
bool SurfaceWindow::event(QEvent *event)
{
    const QEvent::Type type = event->type();
    if (!handle() && (type == QEvent::Resize || type == QEvent::Expose || type == QEvent::Paint || type == QEvent::UpdateRequest))
        return true;
    return QOpenGLWindow::event(event);
}
