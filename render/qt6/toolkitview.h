#ifndef TOOLKITVIEW_H
#define TOOLKITVIEW_H

#include <epoxy/gl.h>

#include "render/image/textureupload.h"

#include <QPointer>
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>

class QOpenGLContext;
class QPixmap;
class SurfaceWindow;

// What the view needs of Qt 6. The view is a plain widget as large as the
// image; what it draws into is a native OpenGL window kept over the part of
// it that can be seen, so that memory and every frame follow the window,
// not the image, and no composition of the whole window follows a frame.
class ToolkitView : public QWidget
{
    Q_OBJECT

public:
    explicit ToolkitView(QWidget *parent);
    ~ToolkitView() override;

    // The surface's context, as the toolkit's OpenGL widgets offer theirs.
    void makeCurrent();
    void doneCurrent();
    QOpenGLContext *context() const;

protected:
    // Called with the surface's context current, as QOpenGLWidget calls
    // them: once, then after each resize of the view with its logical size,
    // and for each frame.
    virtual void initializeGL() = 0;
    virtual void resizeGL(int w, int h) = 0;
    virtual void paintGL() = 0;

    // A finished frame now, as the slider's every change needs.
    void repaintNow();
    // Uploads an image that fits one texture, linearly filtered, and
    // leaves it bound, telling progress; deleted with the view.
    void uploadImage(const QPixmap &pixmap, const TextureUpload::Progress &progress = {});
    // The part of the view the drawable covers, in the view's logical
    // pixels, and the drawable's size in device pixels.
    QRect drawablePart() const;
    QSize drawableSize() const;
    // What shows an image whose drawable is past the largest side here.
    QString whatWorks(const QSize &image, int largest) const;

    void resizeEvent(QResizeEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    friend class SurfaceWindow;
    // Keeps the surface over what is seen of the view and has it drawn anew.
    void placeSurface();
    void surfaceInitialized();

    SurfaceWindow *surface = nullptr;
    // The surface's widget: a child of the view's window while shown, and
    // deleted with the view.
    QPointer<QWidget> container;
    // The part of the view the surface was last placed over.
    QRect surfacePart;
    GLuint texture = 0;
    bool initialized = false;
};

#endif
