#include <epoxy/gl.h>

#include "render/image/tiledtexture.h"
#include "render/image/textureupload.h"

#include <algorithm>

namespace {

// A run of the tile's texels taken from consecutive pixels of the image.
struct Run {
    int from;
    int length;
    int to;
};

// The image's pixels for texels 0 .. length + 1 of a tile that shows
// pixels start .. start + length - 1 of a side of size pixels: one more
// each side, the edge pixel itself again beyond the image's own edge.
std::vector<Run> runs(int start, int length, int size)
{
    std::vector<Run> result;
    int texel = 0;
    if (start == 0)
        result.push_back({0, 1, texel++});
    const int first = std::max(start - 1, 0);
    const int last = std::min(start + length + 1, size);
    result.push_back({first, last - first, texel});
    texel += last - first;
    if (start + length == size)
        result.push_back({size - 1, 1, texel});
    return result;
}

// Splits a side into the fewest tiles of at most inner pixels, as equal as
// can be.
std::vector<int> starts(int size, int inner)
{
    const int count = (size + inner - 1) / inner;
    std::vector<int> result;
    for (int i = 0; i <= count; ++i)
        result.push_back(int(qint64(size) * i / count));
    return result;
}

} // namespace

void TiledTexture::upload(const QImage &image, int largest, const TextureUpload::Progress &progress)
{
    release();
    imageSize = image.size();
    if (image.isNull() || largest < 3)
        return;
    const std::vector<int> columns = starts(image.width(), largest - 2);
    const std::vector<int> rows = starts(image.height(), largest - 2);
    qint64 written = 0;
    for (std::size_t r = 0; r + 1 < rows.size(); ++r)
        for (std::size_t c = 0; c + 1 < columns.size(); ++c) {
            const QRect part(QPoint(columns[c], rows[r]), QPoint(columns[c + 1] - 1, rows[r + 1] - 1));
            Tile tile{0, part};
            glGenTextures(1, &tile.name);
            glBindTexture(GL_TEXTURE_2D, tile.name);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
            TextureUpload::allocate(image.format(), part.size() + QSize(2, 2));
            for (const Run &y : runs(part.top(), part.height(), image.height()))
                for (const Run &x : runs(part.left(), part.width(), image.width()))
                    TextureUpload::write(image, QRect(x.from, y.from, x.length, y.length), QPoint(x.to, y.to));
            tiles.push_back(tile);
            written += qint64(part.width()) * part.height();
            if (progress)
                progress(written);
        }
}

void TiledTexture::release()
{
    for (const Tile &tile : tiles)
        glDeleteTextures(1, &tile.name);
    tiles.clear();
}

void TiledTexture::setFilter(GLint filter)
{
    for (const Tile &tile : tiles) {
        glBindTexture(GL_TEXTURE_2D, tile.name);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    }
}

void TiledTexture::draw(const QSizeF &size, const QRectF &seen) const
{
    const qreal sx = size.width() / imageSize.width();
    const qreal sy = size.height() / imageSize.height();
    for (const Tile &tile : tiles) {
        const QRectF place(tile.part.left() * sx, tile.part.top() * sy, tile.part.width() * sx, tile.part.height() * sy);
        if (!place.intersects(seen))
            continue;
        glBindTexture(GL_TEXTURE_2D, tile.name);
        const qreal w = tile.part.width() + 2;
        const qreal h = tile.part.height() + 2;
        drawQuad(place, QRectF(1 / w, 1 / h, tile.part.width() / w, tile.part.height() / h));
    }
}

void TiledTexture::drawQuad(const QRectF &vertices, const QRectF &texels)
{
    const float left = float(vertices.left());
    const float top = float(vertices.top());
    const float right = float(vertices.right());
    const float bottom = float(vertices.bottom());
    glBegin(GL_POLYGON);
    glTexCoord2d(texels.left(), texels.top());
    glVertex3f(left, top, 0);
    glTexCoord2d(texels.left(), texels.bottom());
    glVertex3f(left, bottom, 0);
    glTexCoord2d(texels.right(), texels.bottom());
    glVertex3f(right, bottom, 0);
    glTexCoord2d(texels.right(), texels.top());
    glVertex3f(right, top, 0);
    glEnd();
}
