#include <epoxy/gl.h>

#include "render/checkglerror.h"

#include <QDebug>
#include <QString>

#include <GL/glu.h>

void checkGLError(const char *file, int line)
{
    // A lost or missing context may answer every glGetError with an error;
    // the real queue holds at most one flag per error kind, so this bound
    // only stops such an endless loop.
    for (int drained = 0; drained < 64; ++drained) {
        const GLenum code = glGetError();
        if (code == GL_NO_ERROR)
            return;
        const GLubyte *text = gluErrorString(code);
        // One multi-argument arg() so that a '%' in the file name is not substituted again.
        const QString message = QString("glError in %1:%2 : %3")
                                    .arg(QString::fromUtf8(file), QString::number(line),
                                         text ? QString::fromLatin1(reinterpret_cast<const char *>(text)) : QString());
        // The quoted string and one space, as the stream prints a string value;
        // nospace() keeps the stream from trimming that space.
        qDebug().nospace() << message << ' ';
    }
}
