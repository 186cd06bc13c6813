#ifndef MEMORYBUDGET_H
#define MEMORYBUDGET_H

#include <QImage>
#include <QSize>
#include <QString>
#include <QtGlobal>

// What showing an image takes of memory at its peak, and what the system can
// give the process now. An image the machine cannot hold, decoded all the
// same, pushes a desktop into swap and then meets the kernel's out-of-memory
// killer, which ends the viewer (or another program) without a word; its
// header says what it needs before anything is decoded.
namespace MemoryBudget {

// The bytes that showing an image of this size, decoded to this format,
// takes at its peak: while the pixmap is made, the decoded image and the
// pixmap where that is a copy; while the image goes up, the pixmap, the
// band of it converted at a time and the texture, which on integrated GPUs
// and software OpenGL is the same memory. A grey image is its own pixmap and
// goes up as it stands, one grey texel a pixel. An invalid format counts as
// 32-bit.
qint64 peakBytes(const QSize &size, QImage::Format format);

// The bytes the process can have now: the system's MemAvailable or, in
// memory cgroups with limits (v2 memory.max, v1 memory.limit_in_bytes), the
// smallest of those limits less the cgroup's usage (its unmapped file cache
// not counted), from the process's cgroup up to the root, whichever is
// smaller. -1 where nothing can be read.
qint64 availableBytes();

// Where availableBytes() reads proc/ and sys/ from: "/" but in tests.
void setRoot(const QString &root);

// Bytes as a person reads them: "812 MiB", "6.7 GiB".
QString describe(qint64 bytes);

// The line that says an image is not shown for want of memory.
QString refusal(const QString &file, const QSize &size, qint64 needed, qint64 available);

} // namespace MemoryBudget

#endif
