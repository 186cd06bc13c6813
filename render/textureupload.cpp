#include <epoxy/gl.h>

#include "render/textureupload.h"

#include <algorithm>

namespace {

// Bands of this many bytes, converted: a small fraction of any image worth
// the trouble, and few enough calls.
const qint64 bandBytes = qint64(4) << 20;

void unpack(int rowLength, int skipPixels, int skipRows)
{
    glPixelStorei(GL_UNPACK_ROW_LENGTH, rowLength);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, skipPixels);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, skipRows);
}

} // namespace

qint64 TextureUpload::largestBand(int width)
{
    return std::max<qint64>(bandBytes, qint64(width) * 4);
}

void TextureUpload::write(const QImage &image, const QRect &part, const QPoint &to)
{
    if (image.isNull() || part.isEmpty())
        return;
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    const QImage::Format format = image.format();
    if (format == QImage::Format_RGB32 || format == QImage::Format_ARGB32) {
        unpack(int(image.bytesPerLine() / 4), part.x(), part.y());
        glTexSubImage2D(GL_TEXTURE_2D, 0, to.x(), to.y(), part.width(), part.height(), GL_BGRA, GL_UNSIGNED_BYTE,
                        image.constBits());
        unpack(0, 0, 0);
        return;
    }
    // A band is a view of the image's own rows, converted on its own: where
    // a pixel is whole bytes it starts at the part's first column, else at
    // the row's and the columns before are skipped.
    const int depth = image.depth();
    const int first = depth % 8 == 0 ? part.x() : 0;
    const int skip = part.x() - first;
    const int width = part.width() + skip;
    const int rows = int(std::max<qint64>(1, bandBytes / (qint64(width) * 4)));
    for (int y = part.top(); y <= part.bottom(); y += rows) {
        const int height = std::min(rows, part.bottom() + 1 - y);
        QImage band(image.constScanLine(y) + first * depth / 8, width, height, image.bytesPerLine(), format);
        band.setColorTable(image.colorTable());
        const QImage words = band.convertToFormat(QImage::Format_ARGB32);
        unpack(int(words.bytesPerLine() / 4), skip, 0);
        glTexSubImage2D(GL_TEXTURE_2D, 0, to.x(), to.y() + y - part.top(), part.width(), height, GL_BGRA,
                        GL_UNSIGNED_BYTE, words.constBits());
    }
    unpack(0, 0, 0);
}
