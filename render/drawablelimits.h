#ifndef DRAWABLELIMITS_H
#define DRAWABLELIMITS_H

#include <epoxy/gl.h>

#include <QSize>
#include <QString>

// The largest drawable the OpenGL driver and the window system make. A
// window's buffers are the driver's render targets, and what is drawn
// reaches them through a viewport: a drawable larger than either, or than
// an X11 window can be, is not made.
class DrawableLimits
{
public:
    // With a context current: the driver's own limits.
    void read();

    int largestTexture() const { return texture; }

    // Whether a drawable of this size in device pixels can be made; where
    // not, the smallest side of the limits it is past, and whose they are.
    bool fits(const QSize &drawable, int *side = nullptr, QString *holder = nullptr) const;

    // The line that says why a view shows nothing: the image, its size, the
    // drawable its view needs and the limit past which that is, and what
    // works instead.
    static QString tooLarge(const QString &file, const QSize &image, const QSize &drawable, int side,
                            const QString &holder, const QString &works);

private:
    GLint renderbuffer = 0;
    QSize viewport;
    GLint texture = 0;
};

#endif
