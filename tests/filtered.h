#ifndef TESTS_FILTERED_H
#define TESTS_FILTERED_H

// What each device pixel of a picture of the view must show, and a picture
// compared with it in colour levels: the colour that linear filtering of the
// image, clamped at its edges, gives at the pixel's centre, as OpenGL
// defines texture magnification (LINEAR, CLAMP_TO_EDGE).

#include "support.h"

#include <QImage>
#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QString>

#include <array>
#include <cmath>

// Levels a channel of a picture may differ from the model: the rasterizer
// weighs the texels in fixed point and rounds to 8-bit levels. Measured over
// every row of the suites, Mesa 22 to 26 and KWin's output included: at
// most 1.7 levels.
const int filterTolerance = 2;

class FilteredImage
{
public:
    // The image spread over box, in the picture's device pixels: where
    // texture coordinates (0, 0) and (1, 1) fall.
    FilteredImage(const QImage &image, const QRectF &box)
        : texels(image.format() == QImage::Format_Grayscale16 ? image : image.convertToFormat(QImage::Format_RGB32)), box(box)
    {
    }

    // Where a device pixel's centre falls in the image, in texels from its
    // top-left corner.
    QPointF texelAt(int x, int y) const
    {
        return QPointF((x + 0.5 - box.left()) * texels.width() / box.width(),
                       (y + 0.5 - box.top()) * texels.height() / box.height());
    }

    // The four texels nearest the centre, each weighed by its nearness, the
    // places past an edge taken from the edge.
    std::array<double, 3> colourAt(int x, int y) const
    {
        const QPointF at = texelAt(x, y) - QPointF(0.5, 0.5);
        const int i = int(std::floor(at.x()));
        const int j = int(std::floor(at.y()));
        const double a = at.x() - i;
        const double b = at.y() - j;
        std::array<double, 3> colour{0, 0, 0};
        for (const auto &[di, dj, weight] : {std::tuple(0, 0, (1 - a) * (1 - b)), std::tuple(1, 0, a * (1 - b)),
                                            std::tuple(0, 1, (1 - a) * b), std::tuple(1, 1, a * b)}) {
            const std::array<double, 3> texel = texelOf(i + di, j + dj);
            for (int c = 0; c < 3; ++c)
                colour[c] += weight * texel[c];
        }
        return colour;
    }

    QSize imageSize() const { return texels.size(); }

private:
    // In 8-bit levels; 16-bit grey keeps its fractions of them.
    std::array<double, 3> texelOf(int i, int j) const
    {
        const int u = qBound(0, i, texels.width() - 1);
        const int v = qBound(0, j, texels.height() - 1);
        if (texels.format() == QImage::Format_Grayscale16) {
            const double grey = reinterpret_cast<const quint16 *>(texels.constScanLine(v))[u] / 257.0;
            return {grey, grey, grey};
        }
        const QRgb texel = reinterpret_cast<const QRgb *>(texels.constScanLine(v))[u];
        return {double(qRed(texel)), double(qGreen(texel)), double(qBlue(texel))};
    }

    const QImage texels;
    const QRectF box;
};

// How an area of a picture agrees with the model.
struct Agreement {
    // The largest difference of any channel, in levels, and where.
    double worst = 0;
    QPoint at;
    // Pixels past the tolerance, of all compared.
    int over = 0;
    int pixels = 0;
    QString problem;
    bool holds() const { return problem.isEmpty(); }
};

// Every pixel of the area compared with what the model gives there. The
// problem names the worst pixel, what it shows, what the image gives and
// where in the image that is.
inline Agreement agreement(const QImage &picture, const QRect &area, const FilteredImage &model,
                           int tolerance = filterTolerance)
{
    Agreement result;
    const QImage shown = picture.convertToFormat(QImage::Format_RGB32);
    if (shown.isNull() || area.isEmpty() || !shown.rect().contains(area)) {
        result.problem = QString("no picture of the area (%1, %2) %3 x %4 in the %5 x %6 picture")
                             .arg(area.x()).arg(area.y()).arg(area.width()).arg(area.height())
                             .arg(shown.width()).arg(shown.height());
        return result;
    }
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const QRgb *row = reinterpret_cast<const QRgb *>(shown.constScanLine(y));
        for (int x = area.left(); x <= area.right(); ++x) {
            const std::array<double, 3> expected = model.colourAt(x, y);
            const double difference = qMax(std::abs(qRed(row[x]) - expected[0]),
                                           qMax(std::abs(qGreen(row[x]) - expected[1]), std::abs(qBlue(row[x]) - expected[2])));
            result.over += difference > tolerance;
            if (difference > result.worst) {
                result.worst = difference;
                result.at = QPoint(x, y);
            }
        }
    }
    result.pixels = area.width() * area.height();
    if (result.over > 0) {
        const std::array<double, 3> expected = model.colourAt(result.at.x(), result.at.y());
        const QPointF texel = model.texelAt(result.at.x(), result.at.y());
        result.problem = QString("%1 of %2 device pixels past %3 levels; the worst, %4 levels off, at (%5, %6): %7 where "
                                 "the image gives (%8, %9, %10), at texel (%11, %12) of its %13 x %14")
                             .arg(result.over).arg(result.pixels).arg(tolerance).arg(result.worst, 0, 'f', 1)
                             .arg(result.at.x()).arg(result.at.y()).arg(describe(shown.pixel(result.at)))
                             .arg(expected[0], 0, 'f', 1).arg(expected[1], 0, 'f', 1).arg(expected[2], 0, 'f', 1)
                             .arg(texel.x(), 0, 'f', 2).arg(texel.y(), 0, 'f', 2)
                             .arg(model.imageSize().width()).arg(model.imageSize().height());
    }
    return result;
}

// The shader that shows the image as filtered, black with the slider at its
// top.
inline const char *const showShader = "uniform sampler2D Tekstur;\n"
                                      "uniform float Terskel;\n"
                                      "void main() { gl_FragColor = Terskel > 0.99 ? vec4(0.0, 0.0, 0.0, 1.0)"
                                      " : texture2D(Tekstur, gl_TexCoord[0].st); }\n";

#endif
