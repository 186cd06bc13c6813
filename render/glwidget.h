#ifndef GLWIDGET_H
#define GLWIDGET_H

#include <epoxy/gl.h>

#include "render/shader.h"

#include <QGLWidget>
#include <QPixmap>
#include <QSize>

// The image "fibre.bmp" drawn over the whole widget through the fragment
// shader "test.frag", with the shader's threshold set from sett_terskel().
class GLWidget : public QGLWidget
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
    QPixmap pixmap;
    Shader fragShader;
    float threshold;
    // The size resizeGL set the viewport and projection to, in the pixels
    // the toolkit gave it: device pixels on a scaled screen, where width()
    // and height() are logical.
    QSize projectionSize;
};

#endif
