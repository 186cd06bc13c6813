#ifndef TOOLKITVIEW_H
#define TOOLKITVIEW_H

#include <epoxy/gl.h>

#include "render/image/textureupload.h"

#include <QGLWidget>
#include <QRect>
#include <QSize>
#include <QString>

class QPixmap;

// What the view needs of Qt 5's OpenGL widget. QGLWidget draws into a
// native child window of the view's size and leaves its context to the
// view between frames.
class ToolkitView : public QGLWidget
{
    Q_OBJECT

public:
    explicit ToolkitView(QWidget *parent);
    ~ToolkitView() override;

protected:
    // A finished frame now, as the slider's every change needs.
    void repaintNow();
    // Uploads an image that fits one texture, linearly filtered, and
    // leaves it bound; the toolkit keeps it with the context, or the view
    // where it goes up without the toolkit (and then tells progress).
    void uploadImage(const QPixmap &pixmap, const TextureUpload::Progress &progress = {});
    // The part of the view the drawable covers, in the view's logical
    // pixels (all of it), and the drawable's size in device pixels.
    QRect drawablePart() const;
    QSize drawableSize() const;
    // What shows an image whose drawable is past the largest side here.
    QString whatWorks(const QSize &image, int largest) const;

private:
    // The texture of an image with alpha, made by the view.
    GLuint ownTexture = 0;
};

#endif
