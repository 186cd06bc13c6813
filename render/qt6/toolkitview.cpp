#include <epoxy/gl.h>

#include "toolkitview.h"
#include "render/seenpart.h"
#include "render/image/textureupload.h"
#include "surfacewindow.h"

#include <QCoreApplication>
#include <QEvent>
#include <QImage>
#include <QOpenGLContext>
#include <QPaintEvent>
#include <QPixmap>
#include <QWindow>

ToolkitView::ToolkitView(QWidget *parent)
    : QWidget(parent)
{
    surface = new SurfaceWindow(*this);
    container = QWidget::createWindowContainer(surface, this);
    // The container stands over the scroll area in the window: the pointer
    // goes through it, as through the surface, to what lies below.
    container->setAttribute(Qt::WA_TransparentForMouseEvents);
    container->setFocusPolicy(Qt::NoFocus);
    container->hide();
    // The view is made while the image decodes on its own thread. Qt 5's
    // base loads the OpenGL driver then; the surface would load it only at
    // its first frame, after the decode: up to a tenth of the start at 8192 x
    // 8192. A context made now loads it, and the driver stays loaded with
    // the display connection once the context is gone.
    QOpenGLContext driverLoad;
    driverLoad.setFormat(surface->format());
    driverLoad.create();
}

ToolkitView::~ToolkitView()
{
    makeCurrent();
    if (texture)
        glDeleteTextures(1, &texture);
    delete container;
}

void ToolkitView::makeCurrent()
{
    if (surface->context())
        surface->makeCurrent();
}

void ToolkitView::doneCurrent()
{
    if (surface->context())
        surface->doneCurrent();
}

QOpenGLContext *ToolkitView::context() const
{
    return surface->context();
}

void ToolkitView::repaintNow()
{
    placeSurface();
    surface->drawNow();
}

void ToolkitView::uploadImage(const QPixmap &pixmap, const TextureUpload::Progress &progress)
{
    // The image goes up from its own pixels, rows as they stand, so texture
    // (0, 0) is the image's top-left corner, as the view's quad expects.
    // QOpenGLTexture's upload from a QImage would first copy every image
    // into RGBA8888, a second image-sized buffer (256 MiB at 8192 x 8192),
    // and grey ones at four times their size. A null image has nothing to
    // upload.
    if (texture)
        glDeleteTextures(1, &texture);
    texture = 0;
    if (!pixmap.isNull())
        texture = TextureUpload::newTexture(pixmap.toImage(), progress);
}

QRect ToolkitView::drawablePart() const
{
    return surfacePart;
}

QSize ToolkitView::drawableSize() const
{
    // As the toolkit sizes the native window: the logical size scaled and
    // rounded.
    return surface->size() * surface->devicePixelRatio();
}

QString ToolkitView::whatWorks(const QSize &, int) const
{
    // The drawable is what the window shows of the view.
    return "a smaller window";
}

void ToolkitView::surfaceInitialized()
{
    initialized = true;
    initializeGL();
    resizeGL(width(), height());
}

void ToolkitView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeSurface();
    if (initialized) {
        makeCurrent();
        resizeGL(width(), height());
    }
}

void ToolkitView::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    placeSurface();
}

void ToolkitView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // The ancestors are known once the view is shown (the scroll area takes
    // it after it is made), and so is the window's own native window;
    // installing twice keeps one filter.
    for (QWidget *ancestor = parentWidget(); ancestor; ancestor = ancestor->parentWidget())
        ancestor->installEventFilter(this);
    if (QWindow *own = window()->windowHandle())
        own->installEventFilter(this);
    placeSurface();
}

bool ToolkitView::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::Resize || type == QEvent::Move || type == QEvent::Show || type == QEvent::Expose)
        placeSurface();
    return QWidget::eventFilter(watched, event);
}

void ToolkitView::placeSurface()
{
    const QRect seen = seenPart(this);
    // On Wayland the surface is a subsurface of the window's, which Qt 6.4
    // and 6.11 never show where it is made before the window first shows
    // (weston, KWin): it is made once the window is on the screen, and then
    // kept while the window's exposure comes and goes. Qt 6.8 shows it, and
    // there it is made with the view and draws its first frame at once, so
    // that a frame is on its way when its scale comes: a compositor gives
    // each surface its own scale once it is made, and 6.8 posts the new
    // ratio to itself and asks for a frame, which, where none is on its way,
    // it may deliver before the ratio, saying on standard error that its
    // cached ratio was stale.
    const QWindow *own = window()->windowHandle();
    const bool madeWithView = QT_VERSION >= QT_VERSION_CHECK(6, 8, 0) && QT_VERSION < QT_VERSION_CHECK(6, 9, 0);
    if (seen.isEmpty() || !own || (!madeWithView && !container->isVisible() && !own->isExposed())) {
        container->hide();
        return;
    }
    // The surface is the window's own child, placed over what is seen. In a
    // scroll area the container would make itself and every ancestor native
    // windows, each placed on a scaled screen by rounding its own place: the
    // roundings add up to rows that the frame around the view leaves
    // unpainted, and on Wayland the surface is made anew, never to show.
    if (container->parentWidget() != window())
        container->setParent(window());
    const bool moved = surfacePart != seen;
    surfacePart = seen;
    container->setGeometry(QRect(mapTo(window(), seen.topLeft()), seen.size()));
    const bool made = !container->isVisible();
    container->show();
    if (made && madeWithView && surface->handle()) {
        QPaintEvent first(QRect(QPoint(0, 0), surface->size()));
        QCoreApplication::sendEvent(surface, &first);
    }
    // A new size or place in the window exposes the surface, which draws it;
    // the same place over another part of the view does not.
    if (!moved)
        return;
    surface->update();
}
