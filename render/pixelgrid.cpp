#include "render/pixelgrid.h"

#include <QtGlobal>

#include <numeric>

namespace {

// Compositors' scales are fractions of this denominator (Wayland's
// fractional-scale protocol; KWin and mutter alike).
const int denominator = 120;

// The smallest multiple of step at or above value.
int ceiling(int value, int step)
{
    const int remainder = ((value % step) + step) % step;
    return remainder ? value + step - remainder : value;
}

} // namespace

int PixelGrid::step(qreal scale)
{
    const int numerator = qRound(scale * denominator);
    if (numerator <= 0)
        return 1;
    return denominator / std::gcd(numerator, denominator);
}

QMargins PixelGrid::inside(const QRect &rect, int step)
{
    if (step <= 1 || rect.isEmpty())
        return QMargins();
    const int left = ceiling(rect.left(), step) - rect.left();
    const int top = ceiling(rect.top(), step) - rect.top();
    const int width = qMax(0, rect.width() - left) / step * step;
    const int height = qMax(0, rect.height() - top) / step * step;
    return QMargins(left, top, qMax(0, rect.width() - left - width), qMax(0, rect.height() - top - height));
}
