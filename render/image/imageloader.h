#ifndef IMAGELOADER_H
#define IMAGELOADER_H

#include <QElapsedTimer>
#include <QImage>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

// Decodes an image file with the toolkit's reader, its format detected from
// the file as QPixmap's own loading does, on a thread of its own from
// construction on, so that the decoding overlaps what its owner does
// meanwhile (the OpenGL view's base loads the driver). take() waits for the
// image: the reader's own, pixel for pixel, or null where the reader fails
// or where showing it would take more memory than the process can have,
// which its header tells before anything is decoded. An 8-bit image whose
// colour table is all grey comes as the grey image it is.
class ImageLoader
{
public:
    explicit ImageLoader(const QString &fileName);
    ~ImageLoader();
    ImageLoader(const ImageLoader &) = delete;
    ImageLoader &operator=(const ImageLoader &) = delete;

    // Whether the image is decoded, waiting at most this long for it.
    bool waitFor(int ms);
    // How far the reader has come: bytes of the file read, and its size.
    qint64 bytesRead() const { return read; }
    qint64 fileBytes() const { return size; }
    // Since the loader began.
    const QElapsedTimer &started() const { return since; }

    // Once: the image is handed over.
    QImage take();
    // After take(): the line that says why the image was not decoded, where
    // the machine cannot hold it; empty otherwise.
    QString refusal() const { return refused; }

    // The decoding itself, on the calling thread, and the line of a refusal
    // where asked; the bytes read are counted where asked. Decoding into
    // fresh memory takes a page fault every 4 KiB of output, a third of the
    // time of a large micrograph: a helper thread makes the image's pages
    // resident ahead of the decoder.
    static QImage load(const QString &fileName, QString *refusal = nullptr, std::atomic<qint64> *bytesRead = nullptr);

    // An 8-bit image whose colour table is all opaque grey, as the same grey
    // image, in place: each pixel's grey is its entry's, which is what the
    // toolkit's conversion of it to 32 bits gives in each channel. Any
    // other image is left alone; false then.
    static bool makeGrey(QImage &image);

private:
    QString file;
    QImage image;
    QString refused;
    bool taken = false;
    std::atomic<qint64> read{0};
    qint64 size = 0;
    QElapsedTimer since;
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    std::thread worker;
};

#endif
