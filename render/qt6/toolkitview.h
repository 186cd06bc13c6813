#ifndef TOOLKITVIEW_H
#define TOOLKITVIEW_H

#include <epoxy/gl.h>

#include <QOpenGLWidget>
#include <QRect>
#include <QSize>
#include <QString>

class QOpenGLTexture;
class QPixmap;
class Shader;

// What the view needs of Qt 6's OpenGL widget. QOpenGLWidget draws into an
// off-screen buffer of the view's size in device pixels, which the toolkit
// composes into the window, and draws in the view's context itself.
class ToolkitView : public QOpenGLWidget
{
    Q_OBJECT

public:
    explicit ToolkitView(QWidget *parent);
    ~ToolkitView() override;

protected:
    // A finished frame now, as the slider's every change needs.
    void repaintNow();
    // Uploads an image that fits one texture, linearly filtered, and
    // leaves it bound; deleted with the view.
    void uploadImage(const QPixmap &pixmap);
    // Puts back what the toolkit changed in the context since the last frame.
    void restoreFrameState(Shader &shader);
    // The drawable's size in device pixels; resizeGL had logical ones.
    QSize drawableSize(const QSize &resized) const;
    // The largest drawable, in device pixels a side, and who sets it.
    int largestDrawable() const;
    QString largestDrawableHolder() const;
    // What shows an image whose view is too large here.
    QString whatWorks(const QSize &image) const;
    // The frame drew this part of the view, in logical pixels.
    void frameDrawn(const QRect &seen);

    void moveEvent(QMoveEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // A new frame when more of the view comes into sight than the last
    // frame drew: the toolkit shows the buffer as it stands.
    void drawWhatComesIntoSight();

    QOpenGLTexture *texture = nullptr;
    QRect drawnPart;
};

#endif
