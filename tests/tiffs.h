#ifndef TESTS_TIFFS_H
#define TESTS_TIFFS_H

// Grey TIFF files as microscopes and stitching programs write them, made
// with libtiff from an image's pixels: 8 or 16 bits (or 32-bit float, which
// only Qt 6.8's reader and later take), uncompressed, LZW or Deflate, in strips
// or tiles, either byte order, and pages after the first.

#include <QImage>
#include <QString>

#if !__has_include(<tiffio.h>)
#error "The suites write TIFF files with libtiff: install libtiff-dev (./test does)"
#endif
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <vector>

struct TiffLayout {
    // 8, 16, or 32 for float samples.
    int bits = 8;
    int compression = COMPRESSION_NONE;
    bool tiled = false;
    bool bigEndian = false;
    // Pages after the first, each the image inverted.
    int morePages = 0;
};

namespace TiffsDetail {

// A sample of the image as the layout stores it: its own grey in 8 or 16
// bits, a 16-bit image's top byte in 8, and in [0, 1] as float.
inline void sample(const QImage &image, int x, int y, int bits, bool inverted, uchar *out)
{
    const bool wide = image.format() == QImage::Format_Grayscale16;
    quint32 value = wide ? reinterpret_cast<const quint16 *>(image.constScanLine(y))[x] : image.constScanLine(y)[x];
    const quint32 full = wide ? 65535 : 255;
    if (inverted)
        value = full - value;
    if (bits == 8) {
        *out = uchar(wide ? value >> 8 : value);
    } else if (bits == 16) {
        const quint16 wideValue = quint16(wide ? value : value * 257);
        memcpy(out, &wideValue, 2);
    } else {
        const float real = float(value) / float(full);
        memcpy(out, &real, 4);
    }
}

inline bool writePage(TIFF *tiff, const QImage &image, const TiffLayout &layout, bool inverted)
{
    const int bytes = layout.bits / 8;
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, image.width());
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, image.height());
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, layout.bits);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, layout.bits == 32 ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, layout.compression);
    if (layout.compression != COMPRESSION_NONE)
        TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    auto at = [&](int x, int y, uchar *out) { sample(image, x, y, layout.bits, inverted, out); };
    if (layout.tiled) {
        const int side = 16;
        TIFFSetField(tiff, TIFFTAG_TILEWIDTH, side);
        TIFFSetField(tiff, TIFFTAG_TILELENGTH, side);
        std::vector<uchar> tile(std::size_t(side) * side * bytes);
        for (int ty = 0; ty < image.height(); ty += side)
            for (int tx = 0; tx < image.width(); tx += side) {
                std::fill(tile.begin(), tile.end(), 0);
                for (int y = ty; y < qMin(ty + side, image.height()); ++y)
                    for (int x = tx; x < qMin(tx + side, image.width()); ++x)
                        at(x, y, &tile[(std::size_t(y - ty) * side + (x - tx)) * bytes]);
                if (TIFFWriteTile(tiff, tile.data(), tx, ty, 0, 0) < 0)
                    return false;
            }
    } else {
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 8);
        std::vector<uchar> row(std::size_t(image.width()) * bytes);
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x)
                at(x, y, &row[std::size_t(x) * bytes]);
            if (TIFFWriteScanline(tiff, row.data(), y, 0) < 0)
                return false;
        }
    }
    return TIFFWriteDirectory(tiff) != 0;
}

} // namespace TiffsDetail

// Writes the grey image (8- or 16-bit) to path as a TIFF of that layout.
inline bool writeTiff(const QString &path, const QImage &image, const TiffLayout &layout)
{
    TIFF *tiff = TIFFOpen(path.toLocal8Bit().constData(), layout.bigEndian ? "wb" : "wl");
    if (!tiff)
        return false;
    bool written = true;
    for (int page = 0; written && page <= layout.morePages; ++page)
        written = TiffsDetail::writePage(tiff, image, layout, page > 0);
    TIFFClose(tiff);
    return written;
}

#endif
