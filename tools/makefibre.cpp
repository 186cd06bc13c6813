// makefibre OUTPUT [WIDTH [HEIGHT [KIND]]]
// Draws a deterministic fibre-like test image: tangled bright strands of
// varying brightness over a darker, noisy background. The same arguments
// always give the same bytes, whatever the platform. KIND is rgb (the
// default), alpha (the strands over transparency), grey or grey16 (8- or
// 16-bit grey, as microscopes write) or grey-palette (8 bits with a colour
// table of greys, as BMP holds grey); with -ramp after it (grey-ramp, say)
// no strands but a ramp down the rows, as a stitched field's empty margin,
// which compresses to almost nothing and is quick to make at any size. The
// format follows OUTPUT's extension: .bmp, .png, or .tif (LZW).

#include <QColor>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

// A small fixed generator: the standard distributions differ between
// library implementations, this does not.
class Random
{
public:
    explicit Random(std::uint64_t seed) : state(seed) {}
    double uniform()
    {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return double(state >> 11) / double(1ULL << 53);
    }
    double range(double low, double high) { return low + (high - low) * uniform(); }

private:
    std::uint64_t state;
};

// Writes the image, TIFF compressed as micrographs come.
bool save(const QImage &image, const char *path)
{
    const QString name(path);
    const QByteArray format = name.endsWith(".png", Qt::CaseInsensitive) ? "PNG"
                            : name.endsWith(".tif", Qt::CaseInsensitive) || name.endsWith(".tiff", Qt::CaseInsensitive) ? "TIFF" : "BMP";
    QImageWriter writer(name, format);
    if (format == "TIFF")
        writer.setCompression(1);
    if (writer.write(image))
        return true;
    std::fprintf(stderr, "makefibre: cannot write %s: %s\n", path, qPrintable(writer.errorString()));
    return false;
}

// The image of a kind from a brightness in 0..1 at each pixel.
QImage shade(int width, int height, const QString &kind, const std::function<double(int, int)> &brightness)
{
    const bool alpha = kind == "alpha";
    const QImage::Format format = kind == "grey16" ? QImage::Format_Grayscale16
                                : kind == "grey" || kind == "grey-palette" ? QImage::Format_Grayscale8
                                : alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    QImage image(width, height, format);
    for (int py = 0; py < height; ++py) {
        uchar *row = image.scanLine(py);
        for (int px = 0; px < width; ++px) {
            const double v = brightness(px, py);
            if (format == QImage::Format_Grayscale16)
                reinterpret_cast<quint16 *>(row)[px] = quint16(v * 65535);
            else if (format == QImage::Format_Grayscale8)
                row[px] = uchar(v * 255);
            else
                // A faint warm cast, as stained fibres under a lamp; with
                // alpha, the strands opaque and the background nearly clear.
                reinterpret_cast<QRgb *>(row)[px] = qRgba(int(v * 255), int(v * 240), int(v * 215), alpha ? int(v * 255) : 255);
        }
    }
    if (kind == "grey-palette")
        return image.convertToFormat(QImage::Format_Indexed8);
    return image;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: makefibre OUTPUT [WIDTH [HEIGHT [rgb|alpha|grey|grey16|grey-palette[-ramp]]]]\n");
        return 2;
    }
    QString kind = argc > 4 ? QString(argv[4]) : QString("rgb");
    const bool ramp = kind.endsWith("-ramp");
    if (ramp)
        kind.chop(5);
    if (!QStringList{"rgb", "alpha", "grey", "grey16", "grey-palette"}.contains(kind)) {
        std::fprintf(stderr, "makefibre: KIND must be rgb, alpha, grey, grey16 or grey-palette, with -ramp or without\n");
        return 2;
    }
    // Square unless a height is given: stitched fields are wider than tall.
    const int width = argc > 2 ? std::atoi(argv[2]) : 512;
    const int height = argc > 3 ? std::atoi(argv[3]) : width;
    // Stitched micrographs run past what one X11 window holds.
    if (width < 16 || height < 16 || width > 65535 || height > 65535) {
        std::fprintf(stderr, "makefibre: WIDTH and HEIGHT must be 16..65535\n");
        return 2;
    }
    if (ramp)
        return save(shade(width, height, kind, [height](int, int py) { return (16 + 200.0 * py / height) / 255.0; }), argv[1]) ? 0 : 1;

    Random random(20261207);
    std::vector<float> light(std::size_t(width) * height, 0.0f);

    // Strands: smooth random walks with a soft round cross-section; larger
    // images get more strands of the same build, not fatter ones.
    const double scale = std::sqrt(double(width) * height) / 512.0;
    const int strands = int(46 * scale * scale);
    for (int s = 0; s < strands; ++s) {
        double x = random.range(0, width), y = random.range(0, height);
        double heading = random.range(0, 2 * M_PI);
        const double brightness = random.range(0.3, 1.0);
        const double radius = random.range(1.2, 3.5);
        const int steps = int(random.range(300, 900));
        double turn = 0;
        for (int step = 0; step < steps; ++step) {
            turn = 0.92 * turn + random.range(-0.02, 0.02);
            heading += turn;
            x += std::cos(heading);
            y += std::sin(heading);
            const int reach = int(std::ceil(radius * 2));
            for (int dy = -reach; dy <= reach; ++dy) {
                for (int dx = -reach; dx <= reach; ++dx) {
                    const int px = int(x) + dx, py = int(y) + dy;
                    if (px < 0 || py < 0 || px >= width || py >= height)
                        continue;
                    const double d2 = (px - x) * (px - x) + (py - y) * (py - y);
                    float &cell = light[std::size_t(py) * width + px];
                    cell = std::max(cell, float(brightness * std::exp(-d2 / (radius * radius))));
                }
            }
        }
    }
    const QImage image = shade(width, height, kind, [&](int px, int py) {
        const double background = 0.10 + 0.05 * std::sin(px * 0.011 + py * 0.007) + random.range(-0.05, 0.05);
        return std::clamp(background + light[std::size_t(py) * width + px], 0.0, 1.0);
    });
    return save(image, argv[1]) ? 0 : 1;
}
