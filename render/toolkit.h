#ifndef TOOLKIT_H
#define TOOLKIT_H

#include <QImage>
#include <QSize>

class QScrollArea;

// The differences between the toolkits that the rest of the program asks
// about; each toolkit's folder holds its answers.
namespace Toolkit {

// Before an image is read: lets the reader make images of up to this many
// bytes, what the process can have (no limit where that is unknown, -1).
void limitImages(qint64 bytes);

// Whether the toolkit's reader would refuse to make an image of this size
// and format itself.
bool readerRefuses(const QSize &size, QImage::Format format);

// A scroll area for the view, readied for the view's drawable.
QScrollArea *newScrollArea();

// Whether the view is a native child window that the toolkit's Wayland
// platform never shows (it does through XWayland).
bool viewIsNativeWindow();

} // namespace Toolkit

#endif
