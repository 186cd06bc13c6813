#ifndef REFERENCEVIEW_H
#define REFERENCEVIEW_H

// The least the toolkit and driver allow for what the viewer draws: the
// image in the toolkit's OpenGL widget (QGLWidget, or QOpenGLWidget on
// Qt 6) of its size, the shader source handed over as one string, the
// toolkit's usual upload (mipmapped; rows as they stand, as the viewer's),
// the same quad, the threshold uniform set per frame. No code of Ombrel GL,
// no logs, no checks: measurements set the viewer's figures beside this
// one's.

#include <epoxy/gl.h>

#include <QColor>
#include <QCoreApplication>
#include <QPixmap>
#include <QString>
#include <QtGlobal>
#if QT_VERSION_MAJOR >= 6
#include <QImageReader>
#include <QOpenGLTexture>
#include <QOpenGLWidget>
using ReferenceBase = QOpenGLWidget;
#else
#include <QGLWidget>
using ReferenceBase = QGLWidget;
#endif

#include <fstream>
#include <iterator>
#include <string>

// The quad of the viewer's frame, drawn with plain GL calls.
inline void drawReferenceQuad(float w, float h)
{
    glBegin(GL_POLYGON);
    glTexCoord2d(0, 0);
    glVertex3f(0, 0, 0);
    glTexCoord2d(0, 1);
    glVertex3f(0, h, 0);
    glTexCoord2d(1, 1);
    glVertex3f(w, h, 0);
    glTexCoord2d(1, 0);
    glVertex3f(w, 0, 0);
    glEnd();
}

class ReferenceView : public ReferenceBase
{
public:
    ReferenceView(const QString &imagePath, const char *shaderPath)
        : pixmap(load(imagePath)), shaderPath(shaderPath)
    {
        resize(pixmap.size());
    }

    float threshold = 0.4f;

    // Qt 6 decodes no image over 128 MB unless told otherwise.
    static QPixmap load(const QString &path)
    {
#if QT_VERSION_MAJOR >= 6
        QImageReader::setAllocationLimit(1024);
#endif
        return QPixmap(path);
    }

    // One finished frame now.
    void repaintNow()
    {
#if QT_VERSION_MAJOR >= 6
        update();
        QCoreApplication::sendPostedEvents(window(), QEvent::UpdateRequest);
#else
        updateGL();
#endif
    }
#if QT_VERSION_MAJOR >= 6
    ~ReferenceView() override
    {
        makeCurrent();
        delete texture;
    }
#endif

protected:
    void initializeGL() override
    {
        std::ifstream file(shaderPath, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        const char *source = text.c_str();
        program = glCreateProgram();
        const GLuint shader = glCreateShader(GL_FRAGMENT_SHADER);
        glShaderSource(shader, 1, &source, nullptr);
        glCompileShader(shader);
        glAttachShader(program, shader);
        glLinkProgram(program);
        glUseProgram(program);
        glEnable(GL_TEXTURE_2D);
#if QT_VERSION_MAJOR >= 6
        texture = new QOpenGLTexture(pixmap.toImage());
        texture->setMinMagFilters(QOpenGLTexture::LinearMipMapLinear, QOpenGLTexture::Linear);
        const QColor clear(Qt::darkGray);
        glClearColor(clear.redF(), clear.greenF(), clear.blueF(), clear.alphaF());
#else
        bindTexture(pixmap, GL_TEXTURE_2D, GL_RGBA8,
                    QGLContext::LinearFilteringBindOption | QGLContext::MipmapBindOption);
        qglClearColor(QColor(Qt::darkGray));
#endif
        glUniform1i(glGetUniformLocation(program, "Tekstur"), 0);
    }
    void resizeGL(int w, int h) override
    {
        glViewport(0, 0, w, h);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, w, h, 0, 4.0, 15.0);
        glMatrixMode(GL_MODELVIEW);
    }
    void paintGL() override
    {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glLoadIdentity();
        glTranslatef(0, 0, -10);
        glUniform1f(glGetUniformLocation(program, "Terskel"), threshold);
#if QT_VERSION_MAJOR >= 6
        texture->bind();
#endif
        drawReferenceQuad(float(width()), float(height()));
    }

private:
    QPixmap pixmap;
    std::string shaderPath;
    GLuint program = 0;
#if QT_VERSION_MAJOR >= 6
    QOpenGLTexture *texture = nullptr;
#endif
};

#endif
