#include <epoxy/gl.h>

#include "render/image/textureupload.h"

#include <algorithm>

namespace {

// Bands of this many bytes: a small fraction of any image worth the trouble,
// few enough calls, and often enough for a load's progress to move.
const qint64 bandBytes = qint64(4) << 20;

void unpack(int rowLength, int skipPixels, int skipRows)
{
    glPixelStorei(GL_UNPACK_ROW_LENGTH, rowLength);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, skipPixels);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, skipRows);
}

// Whether the pixels go up as they stand: grey, or 32-bit words OpenGL
// reads as BGRA.
bool asTheyStand(QImage::Format format)
{
    return TextureUpload::isGrey(format) || format == QImage::Format_RGB32 || format == QImage::Format_ARGB32;
}

// How OpenGL reads pixels of this format as they stand.
void layout(QImage::Format format, GLenum *pixels, GLenum *type)
{
    *pixels = TextureUpload::isGrey(format) ? GL_LUMINANCE : GL_BGRA;
    *type = format == QImage::Format_Grayscale16 ? GL_UNSIGNED_SHORT : GL_UNSIGNED_BYTE;
}

} // namespace

bool TextureUpload::isGrey(QImage::Format format)
{
    return format == QImage::Format_Grayscale8 || format == QImage::Format_Grayscale16;
}

int TextureUpload::texelBytes(QImage::Format format)
{
    return format == QImage::Format_Grayscale8 ? 1 : format == QImage::Format_Grayscale16 ? 2 : 4;
}

qint64 TextureUpload::largestBand(QImage::Format format, int width)
{
    return asTheyStand(format) ? 0 : std::max<qint64>(bandBytes, qint64(width) * 4);
}

void TextureUpload::allocate(QImage::Format format, const QSize &size)
{
    const GLint internal = format == QImage::Format_Grayscale8 ? GL_LUMINANCE8
                         : format == QImage::Format_Grayscale16 ? GL_LUMINANCE16 : GL_RGBA8;
    GLenum pixels = 0;
    GLenum type = 0;
    layout(asTheyStand(format) ? format : QImage::Format_ARGB32, &pixels, &type);
    glTexImage2D(GL_TEXTURE_2D, 0, internal, size.width(), size.height(), 0, pixels, type, nullptr);
}

void TextureUpload::write(const QImage &image, const QRect &part, const QPoint &to, const Progress &progress)
{
    if (image.isNull() || part.isEmpty())
        return;
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    const QImage::Format format = image.format();
    const int depth = image.depth();
    const bool standing = asTheyStand(format);
    // A band is a view of the image's own rows, converted on its own where it
    // must be: where a pixel is whole bytes it starts at the part's first
    // column, else at the row's and the columns before are skipped.
    const int first = depth % 8 == 0 ? part.x() : 0;
    const int skip = part.x() - first;
    const int width = part.width() + skip;
    const qint64 rowBytes = qint64(width) * (standing ? depth / 8 : 4);
    const int rows = int(std::max<qint64>(1, bandBytes / rowBytes));
    GLenum pixels = 0;
    GLenum type = 0;
    layout(standing ? format : QImage::Format_ARGB32, &pixels, &type);
    for (int y = part.top(); y <= part.bottom(); y += rows) {
        const int height = std::min(rows, part.bottom() + 1 - y);
        if (standing) {
            unpack(int(image.bytesPerLine() / (depth / 8)), part.x(), y);
            glTexSubImage2D(GL_TEXTURE_2D, 0, to.x(), to.y() + y - part.top(), part.width(), height, pixels, type,
                            image.constBits());
        } else {
            QImage band(image.constScanLine(y) + first * depth / 8, width, height, image.bytesPerLine(), format);
            band.setColorTable(image.colorTable());
            const QImage words = band.convertToFormat(QImage::Format_ARGB32);
            unpack(int(words.bytesPerLine() / 4), skip, 0);
            glTexSubImage2D(GL_TEXTURE_2D, 0, to.x(), to.y() + y - part.top(), part.width(), height, pixels, type,
                            words.constBits());
        }
        if (progress)
            progress(qint64(part.width()) * (y + height - part.top()));
    }
    unpack(0, 0, 0);
}

GLuint TextureUpload::newTexture(const QImage &image, const Progress &progress)
{
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    allocate(image.format(), image.size());
    write(image, image.rect(), QPoint(0, 0), progress);
    return name;
}
