#ifndef TESTS_PLACES_H
#define TESTS_PLACES_H

// An image whose every texel tells its place, and the shader that shows
// each texel whole.

#include "support.h"

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

// The index in the top bits of RGB, check bits that the window's greys
// hardly match in the rest.
class Places
{
public:
    explicit Places(const QSize &size) : size(size)
    {
        while (qint64(1) << indexBits < qint64(size.width()) * size.height())
            ++indexBits;
    }
    QImage image() const
    {
        QImage image(size, QImage::Format_RGB32);
        for (int v = 0; v < size.height(); ++v)
            for (int u = 0; u < size.width(); ++u) {
                const quint32 index = quint32(v) * size.width() + u;
                image.setPixel(u, v, 0xff000000u | index << (24 - indexBits) | check(u, v));
            }
        return image;
    }
    bool placeOf(QRgb colour, QPoint *place) const
    {
        const quint32 index = (colour & 0xffffffu) >> (24 - indexBits);
        *place = QPoint(int(index % size.width()), int(index / size.width()));
        return index < quint32(size.width()) * size.height() && (colour & checkMask()) == check(place->x(), place->y());
    }
    const QSize size;

private:
    quint32 checkMask() const { return (1u << (24 - indexBits)) - 1; }
    quint32 check(int u, int v) const { return quint32(u * 7 + v * 3 + 5) & checkMask(); }
    int indexBits = 1;
};

// Each texel shown whole, sampled at its centre, so that every pixel shows a
// place at any scale; tiles included, as the texture's own size is asked.
// Black with the slider at its top.
inline const char *placesShader()
{
    return "#version 130\n"
           "uniform sampler2D Tekstur;\n"
           "uniform float Terskel;\n"
           "void main() { vec2 size = vec2(textureSize(Tekstur, 0));\n"
           "    vec2 texel = (floor(gl_TexCoord[0].st * size) + 0.5) / size;\n"
           "    gl_FragColor = Terskel > 0.99 ? vec4(0.0, 0.0, 0.0, 1.0) : texture2D(Tekstur, texel); }\n";
}

#endif
