#include "render/imageloader.h"
#include "render/memorybudget.h"
#include "render/toolkit.h"

#include <QFileInfo>
#include <QImageReader>

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

} // namespace

ImageLoader::ImageLoader(const QString &fileName)
    : file(fileName)
{
    Toolkit::limitImages(MemoryBudget::availableBytes());
    try {
        worker = std::thread([this] { image = load(file, &refused); });
    } catch (const std::system_error &) {
        // No thread to be had: take() decodes on the caller's.
    }
}

ImageLoader::~ImageLoader()
{
    if (worker.joinable())
        worker.join();
}

QImage ImageLoader::take()
{
    if (worker.joinable())
        worker.join();
    else if (!taken)
        image = load(file, &refused);
    taken = true;
    return std::move(image);
}

QImage ImageLoader::load(const QString &fileName, QString *refusal)
{
    QImageReader reader(fileName);
    const QSize size = reader.size();
    const QImage::Format format = reader.imageFormat();
    // What the header claims is what the decoder allocates, however little
    // the file holds; a top-down BMP reports a negative height.
    const QSize claimed(qAbs(size.width()), qAbs(size.height()));
    if (!claimed.isEmpty()) {
        const qint64 needed = MemoryBudget::peakBytes(claimed, format);
        const qint64 available = MemoryBudget::availableBytes();
        if (available >= 0 && needed > available) {
            if (refusal)
                *refusal = MemoryBudget::refusal(fileName, claimed, needed, available);
            return QImage();
        }
    }
    // A top-down BMP reports a negative height until it is read.
    if (size.isEmpty() || format == QImage::Format_Invalid)
        return reader.read();
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
        return reader.read();
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
    return read ? image : QImage();
}
