// The least the toolkit allows for what ombrel-gl does up to its first
// frame: load "fibre.bmp" into a QGLWidget, compile "test.frag" handed over
// as one string, upload the image and draw one textured quad. Nothing else:
// no scroll area, no slider, no logs, no checks.

#include <epoxy/gl.h>

#include <QApplication>
#include <QGLWidget>
#include <QPixmap>

#include <fstream>
#include <iterator>
#include <string>

class ReferenceView : public QGLWidget
{
public:
    ReferenceView() : pixmap("fibre.bmp") { resize(pixmap.size()); }

protected:
    void initializeGL() override
    {
        std::ifstream file("test.frag", std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        const char *source = text.c_str();
        const GLuint program = glCreateProgram();
        const GLuint shader = glCreateShader(GL_FRAGMENT_SHADER);
        glShaderSource(shader, 1, &source, nullptr);
        glCompileShader(shader);
        glAttachShader(program, shader);
        glLinkProgram(program);
        glUseProgram(program);
        glEnable(GL_TEXTURE_2D);
        bindTexture(pixmap, GL_TEXTURE_2D, GL_RGBA8,
                    QGLContext::LinearFilteringBindOption | QGLContext::MipmapBindOption);
        glUniform1i(glGetUniformLocation(program, "Tekstur"), 0);
        glUniform1f(glGetUniformLocation(program, "Terskel"), 0.4f);
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
        glClear(GL_COLOR_BUFFER_BIT);
        glBegin(GL_QUADS);
        glTexCoord2d(0, 0);
        glVertex2f(0, 0);
        glTexCoord2d(0, 1);
        glVertex2f(0, float(height()));
        glTexCoord2d(1, 1);
        glVertex2f(float(width()), float(height()));
        glTexCoord2d(1, 0);
        glVertex2f(float(width()), 0);
        glEnd();
    }

private:
    QPixmap pixmap;
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    ReferenceView view;
    view.show();
    return app.exec();
}
