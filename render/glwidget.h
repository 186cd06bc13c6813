#ifndef GLWIDGET_H
#define GLWIDGET_H

#include <epoxy/gl.h>

#include "render/shader.h"
#include "render/tiledtexture.h"
// The toolkit's OpenGL widget, from the toolkit's own folder.
#include "toolkitview.h"

#include <QPixmap>
#include <QRect>
#include <QSize>

class ImageLoader;

// The image "fibre.bmp" drawn over the whole widget through the fragment
// shader "test.frag", with the shader's threshold set from sett_terskel().
class GLWidget : public ToolkitView
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

private:
    // Decoding begins before the base is constructed, in the loader
    // handed to this one.
    GLWidget(QWidget *parent, ImageLoader &&loading);
    // The part of the view that can be seen, in its own logical pixels: in
    // the scroll area usually a window's worth of an image-sized view.
    QRect seenPart() const;
    // That part in the drawable's pixels, origin bottom left, as glScissor
    // takes it; rounded outwards on a scaled screen.
    QRect drawablePart(const QRect &part) const;
    // Whether the toolkit could make a drawable of this many device pixels;
    // says once why not where it could not.
    bool drawableMade(const QSize &drawable);
    // Where the drawable is larger than the largest viewport: the viewport
    // and the projection set to the part of it that is drawn.
    void frameSeenPart(const QRect &scissor);

    QPixmap pixmap;
    Shader fragShader;
    float threshold;
    // The size resizeGL set the viewport and projection to, in the pixels
    // the toolkit gave it: device pixels on Qt 5, logical ones on Qt 6.
    QSize projectionSize;
    // The image where it is larger than the largest texture.
    TiledTexture tiles;
    // The driver's and the toolkit's limits, in pixels.
    QSize largestViewport;
    int largestTexture = 0;
    bool drawableTooLarge = false;
    bool saidTooLarge = false;
};

#endif
