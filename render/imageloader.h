#ifndef IMAGELOADER_H
#define IMAGELOADER_H

#include <QImage>
#include <QString>

#include <thread>

// Decodes an image file with the toolkit's reader, its format detected from
// the file as QPixmap's own loading does, on a thread of its own from
// construction on, so that the decoding overlaps what its owner does
// meanwhile (the OpenGL view's base loads the driver). take() waits for the
// image: the reader's own, pixel for pixel, or null where the reader fails
// or where showing it would take more memory than the process can have,
// which its header tells before anything is decoded.
class ImageLoader
{
public:
    explicit ImageLoader(const QString &fileName);
    ~ImageLoader();
    ImageLoader(const ImageLoader &) = delete;
    ImageLoader &operator=(const ImageLoader &) = delete;

    // Once: the image is handed over.
    QImage take();
    // After take(): the line that says why the image was not decoded, where
    // the machine cannot hold it; empty otherwise.
    QString refusal() const { return refused; }

    // The decoding itself, on the calling thread, and the line of a refusal
    // where asked. Decoding into fresh memory takes a page fault every 4 KiB
    // of output, a third of the time of a large micrograph: a helper thread
    // makes the image's pages resident ahead of the decoder.
    static QImage load(const QString &fileName, QString *refusal = nullptr);

private:
    QString file;
    QImage image;
    QString refused;
    bool taken = false;
    std::thread worker;
};

#endif
