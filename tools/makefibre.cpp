// makefibre OUTPUT [WIDTH [HEIGHT [KIND]]]
// Draws a deterministic fibre-like test image: tangled bright strands of
// varying brightness over a darker, noisy background. The same arguments
// always give the same bytes, whatever the platform. KIND is rgb (the
// default), alpha (the strands over transparency) or grey-ramp (no strands:
// a grey ramp down the rows, as a stitched field's empty margin, which
// compresses to almost nothing). The format follows OUTPUT's extension:
// .bmp or .png.

#include <QColor>
#include <QByteArray>
#include <QImage>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: makefibre OUTPUT [WIDTH [HEIGHT [rgb|alpha|grey-ramp]]]\n");
        return 2;
    }
    const QString kind = argc > 4 ? QString(argv[4]) : QString("rgb");
    const QByteArray format = QString(argv[1]).endsWith(".png", Qt::CaseInsensitive) ? "PNG" : "BMP";
    if (kind != "rgb" && kind != "alpha" && kind != "grey-ramp") {
        std::fprintf(stderr, "makefibre: KIND must be rgb, alpha or grey-ramp\n");
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
    if (kind == "grey-ramp") {
        QImage ramp(width, height, QImage::Format_Grayscale8);
        for (int py = 0; py < height; ++py)
            std::fill_n(ramp.scanLine(py), width, uchar(16 + 200 * py / height));
        if (!ramp.save(argv[1], format)) {
            std::fprintf(stderr, "makefibre: cannot write %s\n", argv[1]);
            return 1;
        }
        return 0;
    }
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

    const bool alpha = kind == "alpha";
    QImage image(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int py = 0; py < height; ++py) {
        QRgb *row = reinterpret_cast<QRgb *>(image.scanLine(py));
        for (int px = 0; px < width; ++px) {
            const double background = 0.10 + 0.05 * std::sin(px * 0.011 + py * 0.007) + random.range(-0.05, 0.05);
            const double v = std::clamp(background + light[std::size_t(py) * width + px], 0.0, 1.0);
            // A faint warm cast, as stained fibres under a lamp; with alpha,
            // the strands opaque and the background nearly clear.
            row[px] = qRgba(int(v * 255), int(v * 240), int(v * 215), alpha ? int(v * 255) : 255);
        }
    }
    if (!image.save(argv[1], format)) {
        std::fprintf(stderr, "makefibre: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
