#include "render/image/memorybudget.h"
#include "render/image/textureupload.h"

#include <QByteArray>
#include <QFile>
#include <QStringList>

#include <algorithm>

namespace {

QString &root()
{
    static QString folder = "/";
    return folder;
}

QByteArray contents(const QString &path)
{
    QFile file(root() + path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A whole number of bytes from a cgroup file; -1 for "max" or nothing.
qint64 number(const QString &path)
{
    bool ok = false;
    const qint64 value = contents(path).trimmed().toLongLong(&ok);
    return ok ? value : -1;
}

// The bytes of a cgroup's memory.stat under the given key; 0 where absent.
qint64 statBytes(const QByteArray &stat, const QByteArray &key)
{
    for (const QByteArray &line : stat.split('\n'))
        if (line.startsWith(key + ' '))
            return std::max<qint64>(0, line.mid(key.size() + 1).trimmed().toLongLong());
    return 0;
}

// What a cgroup's limit leaves its processes; -1 where it has no limit. Its
// usage counts the files it has cached, which the kernel takes back before
// it refuses memory (MemAvailable counts them as available too): a cgroup
// that has read or written much sits at its limit with cache, and would
// refuse every image. What some process has mapped stays counted as used.
qint64 leftIn(const QString &folder, bool unified)
{
    const qint64 limit = number(folder + (unified ? "memory.max" : "memory.limit_in_bytes"));
    const qint64 usage = number(folder + (unified ? "memory.current" : "memory.usage_in_bytes"));
    if (limit < 0 || usage < 0)
        return -1;
    // v1's own keys leave out its children, whose usage it counts.
    const QByteArray stat = contents(folder + "memory.stat");
    const QByteArray prefix = unified ? "" : "total_";
    const qint64 cached = statBytes(stat, prefix + "active_file") + statBytes(stat, prefix + "inactive_file");
    const qint64 mapped = statBytes(stat, unified ? "file_mapped" : "total_mapped_file");
    const qint64 reclaimable = std::clamp<qint64>(cached - mapped, 0, usage);
    return std::max<qint64>(0, limit - (usage - reclaimable));
}

// The smallest of what each cgroup from the process's own up to the root
// leaves it: a limit may be set on any of them.
qint64 leftInCgroups()
{
    qint64 left = -1;
    for (const QByteArray &line : contents("proc/self/cgroup").split('\n')) {
        // v2: "0::/path"; v1: "N:memory:/path" (controllers may be joined).
        const QList<QByteArray> fields = line.split(':');
        if (fields.size() < 3)
            continue;
        const bool unified = fields[0] == "0" && fields[1].isEmpty();
        const bool memory = fields[1].split(',').contains("memory");
        if (!unified && !memory)
            continue;
        QString path = QString::fromUtf8(line.mid(fields[0].size() + fields[1].size() + 2));
        const QString mount = unified ? "sys/fs/cgroup" : "sys/fs/cgroup/memory";
        for (;;) {
            const QString folder = mount + (path == "/" ? QString() : path) + '/';
            const qint64 here = leftIn(folder, unified);
            if (here >= 0 && (left < 0 || here < left))
                left = here;
            if (path.isEmpty() || path == "/")
                break;
            path = path.left(std::max<int>(0, int(path.lastIndexOf('/'))));
            if (path.isEmpty())
                path = "/";
        }
    }
    return left;
}

// MemAvailable, in bytes; -1 where the kernel gives none.
qint64 availableToSystem()
{
    for (const QByteArray &line : contents("proc/meminfo").split('\n'))
        if (line.startsWith("MemAvailable:")) {
            bool ok = false;
            const qint64 kib = line.mid(13).trimmed().split(' ').first().toLongLong(&ok);
            return ok ? kib * 1024 : -1;
        }
    return -1;
}

} // namespace

qint64 MemoryBudget::peakBytes(const QSize &size, QImage::Format format)
{
    if (size.isEmpty())
        return 0;
    const QImage::Format decodedAs = format == QImage::Format_Invalid ? QImage::Format_RGB32 : format;
    const qint64 depth = QImage::toPixelFormat(decodedAs).bitsPerPixel();
    const qint64 pixels = qint64(size.width()) * size.height();
    // As the toolkit lays out an image: rows of whole 32-bit words.
    const qint64 decoded = (size.width() * depth + 31) / 32 * 4 * size.height();
    // Grey stays grey: the pixmap is the decoded image itself, and its rows
    // go up as they stand, a texel of its own depth each.
    if (TextureUpload::isGrey(decodedAs))
        return decoded + pixels * TextureUpload::texelBytes(decodedAs);
    // The pixmap and the texture, 4 bytes a pixel each. An image of 32 bits
    // or more becomes the pixmap in place (64-bit colour shrinks into its
    // own memory: measured); any other is copied. A pixmap with alpha
    // (premultiplied) goes up converted a band at a time; whether a colour
    // table has alpha, its header does not say.
    const qint64 words = pixels * 4;
    const qint64 making = depth >= 32 ? decoded : decoded + words;
    const bool alpha = QImage::toPixelFormat(decodedAs).alphaUsage() == QPixelFormat::UsesAlpha
                    || decodedAs == QImage::Format_Indexed8 || depth == 1;
    const QImage::Format pixmapFormat = alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    const qint64 uploading = words + TextureUpload::largestBand(pixmapFormat, size.width()) + words;
    return std::max(making, uploading);
}

qint64 MemoryBudget::availableBytes()
{
    const qint64 system = availableToSystem();
    const qint64 cgroups = leftInCgroups();
    if (system < 0 || cgroups < 0)
        return std::max(system, cgroups);
    return std::min(system, cgroups);
}

void MemoryBudget::setRoot(const QString &folder)
{
    root() = folder.endsWith('/') ? folder : folder + '/';
}

QString MemoryBudget::describe(qint64 bytes)
{
    const qint64 mib = qint64(1) << 20;
    if (bytes < 1024 * mib)
        return QString("%1 MiB").arg((bytes + mib / 2) / mib);
    return QString("%1 GiB").arg(double(bytes) / (1024 * mib), 0, 'f', 1);
}

QString MemoryBudget::refusal(const QString &file, const QSize &size, qint64 needed, qint64 available)
{
    QString need = describe(needed);
    QString have = describe(available);
    // So close that the units cannot tell them apart: the bytes can.
    if (need == have) {
        need = QString("%1 bytes").arg(needed);
        have = QString("%1 bytes").arg(available);
    }
    return QString("The image \"%1\" is %2 x %3 pixels: showing it needs %4 of memory, more than the %5 this "
                   "process can have now, so the view draws no image")
        .arg(file).arg(size.width()).arg(size.height()).arg(need, have);
}
