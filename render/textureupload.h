#ifndef TEXTUREUPLOAD_H
#define TEXTUREUPLOAD_H

#include <epoxy/gl.h>

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QtGlobal>

// Writing an image into a texture without a copy of it: the texels are
// RGBA8 with straight alpha, rows as they stand, as the toolkit's own
// upload makes them.
namespace TextureUpload {

// The most bytes a band of converted rows of an image this wide takes.
qint64 largestBand(int width);

// With a context current: writes a part of an image into the bound 2D
// texture at a place in it. Opaque and straight-alpha 32-bit pixels go up as
// they stand, as BGRA words; other formats a band of rows at a time,
// converted to straight alpha. The unpacking state is left as it was found
// by the toolkit: lengths and skips 0.
void write(const QImage &image, const QRect &part, const QPoint &to);

} // namespace TextureUpload

#endif
