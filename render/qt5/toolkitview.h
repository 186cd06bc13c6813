#ifndef TOOLKITVIEW_H
#define TOOLKITVIEW_H

#include <epoxy/gl.h>

#include <QGLWidget>
#include <QRect>
#include <QSize>
#include <QString>

class QPixmap;
class Shader;

// What the view needs of Qt 5's OpenGL widget. QGLWidget draws into a
// native child window of the view's size and leaves its context to the
// view between frames.
class ToolkitView : public QGLWidget
{
    Q_OBJECT

public:
    explicit ToolkitView(QWidget *parent);

protected:
    // A finished frame now, as the slider's every change needs.
    void repaintNow();
    // Uploads an image that fits one texture, linearly filtered, and
    // leaves it bound; the toolkit keeps it with the context.
    void uploadImage(const QPixmap &pixmap);
    // The context is the view's alone between frames: nothing to restore.
    void restoreFrameState(Shader &shader);
    // The drawable's size in device pixels; resizeGL had these already.
    QSize drawableSize(const QSize &resized) const;
    // The largest drawable, in device pixels a side, and who sets it.
    int largestDrawable() const;
    QString largestDrawableHolder() const;
    // What shows an image whose view is too large here.
    QString whatWorks(const QSize &image) const;
    void frameDrawn(const QRect &seen);
};

#endif
