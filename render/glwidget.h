#ifndef GLWIDGET_H
#define GLWIDGET_H

#include <epoxy/gl.h>

#include "render/shader.h"

#include <QPixmap>
#include <QRect>
#include <QSize>
#include <QtGlobal>

class ImageLoader;

// The toolkit's OpenGL widget: Qt 5's QGLWidget draws into a native child
// window; Qt 6's QOpenGLWidget into an off-screen buffer that the toolkit
// composes into the window. The lines that differ are marked in the source.
#if QT_VERSION_MAJOR >= 6
#include <QOpenGLWidget>
class QOpenGLTexture;
using GLWidgetBase = QOpenGLWidget;
#else
#include <QGLWidget>
using GLWidgetBase = QGLWidget;
#endif

// The image "fibre.bmp" drawn over the whole widget through the fragment
// shader "test.frag", with the shader's threshold set from sett_terskel().
class GLWidget : public GLWidgetBase
{
    Q_OBJECT

public:
    explicit GLWidget(QWidget *parent = nullptr);
    ~GLWidget() override;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // True when a GL_VERSION string starts with a major version of 2 or
    // more; a missing or unparsable string counts as too old.
    static bool versionSupported(const char *version);

signals:
    void resized(QSize windowSize, QSize textureSize);

public slots:
    void scroll_horiz(int x);
    void scroll_vert(int y);
    void sett_terskel(int x);

protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;
#if QT_VERSION_MAJOR >= 6
    void moveEvent(QMoveEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
#endif

private:
    // Decoding begins before the base is constructed, in the loader
    // handed to this one.
    GLWidget(QWidget *parent, ImageLoader &&loading);
    // A finished frame now, as the slider's every change needs.
    void repaintNow();
    // The part of the view that can be seen, in its own logical pixels: in
    // the scroll area usually a window's worth of an image-sized view.
    QRect seenPart() const;
    // That part in the drawable's pixels, origin bottom left, as glScissor
    // takes it; rounded outwards on a scaled screen.
    QRect drawablePart(const QRect &part) const;
#if QT_VERSION_MAJOR >= 6
    // A new frame when more of the view comes into sight than the last
    // frame drew: the toolkit shows the buffer as it stands.
    void drawWhatComesIntoSight();
#endif

    QPixmap pixmap;
    Shader fragShader;
    float threshold;
    // The size resizeGL set the viewport and projection to, in the pixels
    // the toolkit gave it: device pixels on a scaled screen, where width()
    // and height() are logical.
    QSize projectionSize;
#if QT_VERSION_MAJOR >= 6
    // Qt 6 has no upload of its own into the widget's context; this one is
    // made in initializeGL and deleted with that context current.
    QOpenGLTexture *texture = nullptr;
    // What the last frame drew of the buffer, in logical pixels.
    QRect drawnPart;
#endif
};

#endif
