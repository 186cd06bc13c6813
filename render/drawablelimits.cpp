#include <epoxy/gl.h>

#include "render/drawablelimits.h"

namespace {

// X11 keeps window sizes and places in 16-bit signed numbers.
const int largestWindow = 32767;

} // namespace

void DrawableLimits::read()
{
    GLint dimensions[2] = {0, 0};
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &renderbuffer);
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, dimensions);
    viewport = QSize(dimensions[0], dimensions[1]);
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &texture);
}

bool DrawableLimits::fits(const QSize &drawable, int *side, QString *holder) const
{
    const struct {
        QSize largest;
        const char *holder;
    } limits[] = {
        {QSize(renderbuffer, renderbuffer), "of the OpenGL driver's render targets"},
        {viewport, "of the OpenGL driver's viewport"},
        {QSize(largestWindow, largestWindow), "that X11 windows allow"},
    };
    int smallest = 0;
    const char *whose = nullptr;
    for (const auto &limit : limits) {
        for (const int largest : {drawable.width() > limit.largest.width() ? limit.largest.width() : 0,
                                  drawable.height() > limit.largest.height() ? limit.largest.height() : 0})
            if (largest > 0 && (!whose || largest < smallest)) {
                smallest = largest;
                whose = limit.holder;
            }
    }
    if (side)
        *side = smallest;
    if (holder)
        *holder = whose;
    return !whose;
}

QString DrawableLimits::tooLarge(const QString &file, const QSize &image, const QSize &drawable, int side,
                                 const QString &holder, const QString &works)
{
    return QString("The image \"%1\" is %2 x %3 pixels: on this screen its view needs %4 x %5 device "
                   "pixels, more than the %6 a side %7, so the view shows nothing. What works: %8")
        .arg(file).arg(image.width()).arg(image.height()).arg(drawable.width()).arg(drawable.height()).arg(side)
        .arg(holder, works);
}
