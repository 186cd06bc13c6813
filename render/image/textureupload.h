#ifndef TEXTUREUPLOAD_H
#define TEXTUREUPLOAD_H

#include <epoxy/gl.h>

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QtGlobal>

#include <functional>

// Writing an image into a texture without a copy of it. Grey images keep
// their one channel at their own depth (GL_LUMINANCE8, GL_LUMINANCE16), which
// the shader reads as (L, L, L, 1), the texels an RGBA upload of the same grey
// gives; the rest are RGBA8 with straight alpha, as the toolkit's own upload
// makes them. Rows go up as they stand.
namespace TextureUpload {

// Told the pixels written so far, after each band of rows.
using Progress = std::function<void(qint64 pixels)>;

// Whether the image goes up as one grey channel: 8- and 16-bit grey.
bool isGrey(QImage::Format format);

// The bytes a texel of an image of this format takes in the texture.
int texelBytes(QImage::Format format);

// The most bytes of converted rows a band of an image of this format and
// width takes while it goes up: none where the rows go up as they stand.
qint64 largestBand(QImage::Format format, int width);

// With a context current: the bound 2D texture's only level made for
// texels of an image of this format, of this size, still undefined.
void allocate(QImage::Format format, const QSize &size);

// With a context current: writes a part of an image into the bound 2D
// texture, allocated for its format, at a place in it, a band of rows at a
// time. Grey, opaque and straight-alpha 32-bit pixels go up as they stand;
// other formats converted to straight alpha a band at a time. The unpacking
// state is left as it was found by the toolkit: lengths and skips 0.
void write(const QImage &image, const QRect &part, const QPoint &to, const Progress &progress = {});

// With a context current: a new texture of the whole image, linearly
// filtered, one level, left bound.
GLuint newTexture(const QImage &image, const Progress &progress = {});

} // namespace TextureUpload

#endif
