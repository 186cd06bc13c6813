#include "render/image/imageloader.h"
#include "render/image/memorybudget.h"
#include "render/toolkit.h"

#include <QFile>
#include <QFileInfo>
#include <QVector>
#include <QImageReader>

#include <chrono>
#include <system_error>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <thread>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace {

const std::size_t chunkBytes = std::size_t(2) << 20;

// A decoded image is at most this many times its file in all but highly
// compressed files: 24-bit rows become 32-bit pixels. A header may claim far
// more pixels than its file holds; no more than this is made resident for it.
const std::uintptr_t expansion = 8;

// Makes [begin, end) resident in chunks, from the end the decoder writes
// first, until done or the kernel lacks MADV_POPULATE_WRITE (older than
// 5.14; the decoder then faults its own pages, as before). The kernel fills
// each page without writing to it, so the decoder may write into the same
// pages meanwhile.
void makeResident(std::uintptr_t begin, std::uintptr_t end, bool fromEnd)
{
    while (begin < end) {
        const std::size_t length = std::min<std::uintptr_t>(chunkBytes, end - begin);
        const std::uintptr_t start = fromEnd ? end - length : begin;
        if (madvise(reinterpret_cast<void *>(start), length, MADV_POPULATE_WRITE) != 0)
            return;
        if (fromEnd)
            end -= length;
        else
            begin += length;
    }
}

// The image's file as the reader reads it, its bytes counted as they go:
// how far a long decoding has come. The reader takes the name's suffix
// from it as from a file of its own.
class CountedFile : public QFile
{
public:
    CountedFile(const QString &name, std::atomic<qint64> *counted)
        : QFile(name), counted(counted)
    {
    }

protected:
    qint64 readData(char *data, qint64 length) override
    {
        const qint64 got = QFile::readData(data, length);
        if (got > 0 && counted)
            *counted += got;
        return got;
    }

private:
    std::atomic<qint64> *counted;
};

// Whether showing an image of this size, decoded to this format, fits what
// the process can have; the line that says it does not where asked.
bool fits(const QString &fileName, const QSize &size, QImage::Format format, QString *refusal)
{
    const qint64 needed = MemoryBudget::peakBytes(size, format);
    const qint64 available = MemoryBudget::availableBytes();
    if (available < 0 || needed <= available)
        return true;
    if (refusal)
        *refusal = MemoryBudget::refusal(fileName, size, needed, available);
    return false;
}

// The decoded image as it is shown: grey where its colour table is; null
// where what it then takes to show is past what the process can have.
QImage shown(QImage image, const QString &fileName, QString *refusal)
{
    if (image.format() != QImage::Format_Indexed8 || ImageLoader::makeGrey(image))
        return image;
    // The header told the least an 8-bit image may take (its colour table
    // grey); the table it has takes more.
    if (!fits(fileName, image.size(), image.format(), refusal))
        return QImage();
    return image;
}

} // namespace

ImageLoader::ImageLoader(const QString &fileName)
    : file(fileName), size(QFileInfo(fileName).size())
{
    since.start();
    Toolkit::limitImages(MemoryBudget::availableBytes());
    try {
        worker = std::thread([this] {
            QImage decoded = load(file, &refused, &read);
            std::lock_guard<std::mutex> guard(lock);
            image = std::move(decoded);
            done = true;
            finished.notify_all();
        });
    } catch (const std::system_error &) {
        // No thread to be had: take() decodes on the caller's.
        done = true;
    }
}

ImageLoader::~ImageLoader()
{
    if (worker.joinable())
        worker.join();
}

bool ImageLoader::waitFor(int ms)
{
    std::unique_lock<std::mutex> guard(lock);
    return finished.wait_for(guard, std::chrono::milliseconds(ms), [this] { return done; });
}

QImage ImageLoader::take()
{
    if (worker.joinable())
        worker.join();
    else if (!taken)
        image = load(file, &refused, &read);
    taken = true;
    return std::move(image);
}

bool ImageLoader::makeGrey(QImage &image)
{
    if (image.format() != QImage::Format_Indexed8)
        return false;
    // As the toolkit converts it: no table is the grey ramp, and entries
    // past a short table are opaque black.
    QVector<QRgb> table = image.colorTable();
    if (table.isEmpty())
        for (int i = 0; i < 256; ++i)
            table << qRgb(i, i, i);
    table.resize(256);
    uchar grey[256];
    for (int i = 0; i < 256; ++i) {
        const QRgb entry = i < image.colorCount() || image.colorCount() == 0 ? table[i] : qRgb(0, 0, 0);
        if (qAlpha(entry) != 255 || qRed(entry) != qGreen(entry) || qGreen(entry) != qBlue(entry))
            return false;
        grey[i] = uchar(qRed(entry));
    }
    for (int y = 0; y < image.height(); ++y) {
        uchar *row = image.scanLine(y);
        for (int x = 0; x < image.width(); ++x)
            row[x] = grey[row[x]];
    }
    image.setColorTable({});
    return image.reinterpretAsFormat(QImage::Format_Grayscale8);
}

QImage ImageLoader::load(const QString &fileName, QString *refusal, std::atomic<qint64> *bytesRead)
{
    CountedFile device(fileName, bytesRead);
    QImageReader reader(&device);
    const QSize size = reader.size();
    const QImage::Format format = reader.imageFormat();
    // What the header claims is what the decoder allocates, however little
    // the file holds; a top-down BMP reports a negative height. An 8-bit
    // image takes least where its colour table is grey, which only its
    // decoding tells.
    const QSize claimed(qAbs(size.width()), qAbs(size.height()));
    const QImage::Format least = format == QImage::Format_Indexed8 ? QImage::Format_Grayscale8 : format;
    if (!claimed.isEmpty() && !fits(fileName, claimed, least, refusal))
        return QImage();
    // A top-down BMP reports a negative height until it is read.
    if (size.isEmpty() || format == QImage::Format_Invalid)
        return shown(reader.read(), fileName, refusal);
    // An image the reader would refuse to make is left to it: the refusal,
    // its warning included.
    if (Toolkit::readerRefuses(size, format))
        return reader.read();

    // The reader decodes into an image of its own size and format that it
    // is handed, rather than making one; the toolkit allocates it as it
    // would, and its whole pages are made resident, as far as the file can
    // fill them.
    QImage image(size, format);
    if (image.isNull())
        return shown(reader.read(), fileName, refusal);
    // A BMP stores its rows bottom up, and the decoder writes the last row
    // first; other formats are written from the top.
    const bool fromEnd = reader.format() == "bmp";
    const std::uintptr_t page = std::uintptr_t(sysconf(_SC_PAGESIZE));
    const std::uintptr_t bits = reinterpret_cast<std::uintptr_t>(image.bits());
    const std::uintptr_t total = std::uintptr_t(image.sizeInBytes());
    const std::uintptr_t bytes = std::min<std::uintptr_t>(
        total, std::uintptr_t(QFileInfo(fileName).size()) * expansion);
    const std::uintptr_t from = fromEnd ? bits + total - bytes : bits;
    const std::uintptr_t first = (from + page - 1) / page * page;
    const std::uintptr_t last = (from + bytes) / page * page;
    // Every page of the image is written, so it may as well come in 2 MiB
    // pages, which the kernel gives only when asked (Debian's default); that
    // took a tenth off the start on an 8192-pixel image. A hint: refused, no harm.
    const std::uintptr_t huge = std::uintptr_t(2) << 20;
    const std::uintptr_t hugeFirst = (bits + huge - 1) / huge * huge;
    const std::uintptr_t hugeLast = (bits + total) / huge * huge;
    if (hugeFirst < hugeLast)
        madvise(reinterpret_cast<void *>(hugeFirst), hugeLast - hugeFirst, MADV_HUGEPAGE);
    std::thread helper;
    try {
        if (first < last)
            helper = std::thread(makeResident, first, last, fromEnd);
    } catch (const std::system_error &) {
        // The decoder faults its own pages.
    }
    const bool read = reader.read(&image);
    if (helper.joinable())
        helper.join();
    return read ? shown(std::move(image), fileName, refusal) : QImage();
}
