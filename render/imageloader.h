#ifndef IMAGELOADER_H
#define IMAGELOADER_H

#include <QImage>
#include <QString>

#include <thread>

// Decodes an image file with the toolkit's reader, its format detected from
// the file as QPixmap's own loading does, on a thread of its own from
// construction on, so that the decoding overlaps what its owner does
// meanwhile (the OpenGL view's base loads the driver). take() waits for the
// image: the reader's own, pixel for pixel, or null where the reader fails.
class ImageLoader
{
public:
    explicit ImageLoader(const QString &fileName);
    ~ImageLoader();
    ImageLoader(const ImageLoader &) = delete;
    ImageLoader &operator=(const ImageLoader &) = delete;

    // Once: the image is handed over.
    QImage take();

    // The decoding itself, on the calling thread. Decoding into fresh
    // memory takes a page fault every 4 KiB of output, a third of the time
    // of a large micrograph: a helper thread makes the image's pages
    // resident ahead of the decoder.
    static QImage load(const QString &fileName);

private:
    QString file;
    QImage image;
    bool taken = false;
    std::thread worker;
};

#endif
