#ifndef TILEDTEXTURE_H
#define TILEDTEXTURE_H

#include <epoxy/gl.h>

#include "render/image/textureupload.h"

#include <QImage>
#include <QRect>
#include <QRectF>
#include <QSize>

#include <vector>

// An image larger than the driver's largest texture, as tiles that each
// fit it. Each tile holds a border of one texel from its neighbours, or a
// copy of its own edge where it meets the image's, so that linear filtering
// across a tile's edge, and at the image's edge, samples what one texture
// of the whole image clamped at its edges would: no seams.
class TiledTexture
{
public:
    TiledTexture() = default;
    TiledTexture(const TiledTexture &) = delete;
    TiledTexture &operator=(const TiledTexture &) = delete;

    // With a context current: the image's tiles, each at most largest
    // texels a side, border included, uploaded from the image's own rows;
    // progress is told the image's pixels up after each tile.
    void upload(const QImage &image, int largest, const TextureUpload::Progress &progress = {});
    // With the context current: the textures are deleted.
    void release();
    // With the context current: every tile filtered so (GL_LINEAR, the
    // upload's, or GL_NEAREST).
    void setFilter(GLint filter);
    bool isEmpty() const { return tiles.empty(); }
    int count() const { return int(tiles.size()); }

    // Draws every tile that meets seen, each over its part of the image
    // spread over (0, 0) to size, in projection units.
    void draw(const QSizeF &size, const QRectF &seen) const;

    // One quad, each vertex after its texture coordinate, at z = 0: (0, 0)
    // of the texture at the quad's top-left corner, t growing downwards.
    static void drawQuad(const QRectF &vertices, const QRectF &texels);

private:
    struct Tile {
        GLuint name;
        // The image's pixels the tile shows, borders not included.
        QRect part;
    };
    std::vector<Tile> tiles;
    QSize imageSize;
};

#endif
