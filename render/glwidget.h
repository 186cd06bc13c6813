#ifndef GLWIDGET_H
#define GLWIDGET_H

#include <epoxy/gl.h>

#include "render/drawablelimits.h"
#include "render/shader.h"
#include "render/image/tiledtexture.h"
// The toolkit's OpenGL widget, from the toolkit's own folder.
#include "toolkitview.h"

#include <QPixmap>
#include <QRect>
#include <QSize>

#include <memory>

class ImageLoader;
class LoadProgress;

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
    // A part of the view in the drawable's device pixels, origin bottom
    // left, as glScissor takes it: rounded outwards, and a device pixel
    // more each side, where the toolkit's rounding of the drawable's place
    // may put an edge of what is seen.
    QRect scissorFor(const QRect &part) const;
    // Whether the driver can make the drawable; says once why not where it
    // cannot.
    bool drawableMade();
    // The viewport set to all of the drawable and the projection to the
    // part of the view it covers.
    void frameDrawablePart();

    QPixmap pixmap;
    Shader fragShader;
    float threshold;
    // The size resizeGL set the projection to, in the pixels the toolkit
    // gave it: device pixels on Qt 5, logical ones on Qt 6.
    QSize projectionSize;
    // The image where it is larger than the largest texture.
    TiledTexture tiles;
    DrawableLimits limits;
    bool saidTooLarge = false;
    // The texture's filtering as last set: the upload's linear to begin with.
    GLint filtering = GL_LINEAR;
    // A long load's progress, until the first frame.
    std::unique_ptr<LoadProgress> progress;
};

#endif
