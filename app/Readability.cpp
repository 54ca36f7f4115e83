// Contrast of two colours and a text colour moved until it reads on its background.
#include "app/Readability.h"

#include <algorithm>
#include <cmath>

namespace {

double Linear(double channel)
{
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

double Luminance(const QColor& colour)
{
    const QColor rgb = colour.toRgb();
    return 0.2126 * Linear(rgb.redF()) + 0.7152 * Linear(rgb.greenF()) + 0.0722 * Linear(rgb.blueF());
}

QColor Mixed(const QColor& from, const QColor& to, double amount)
{
    const QColor a = from.toRgb(), b = to.toRgb();
    const auto mix = [amount](float x, float y) { return float(x + (y - x) * amount); };
    return QColor::fromRgbF(mix(a.redF(), b.redF()), mix(a.greenF(), b.greenF()), mix(a.blueF(), b.blueF()));
}

} // namespace

double ContrastRatio(const QColor& a, const QColor& b)
{
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor ReadableOn(const QColor& foreground, const QColor& background, double minimum)
{
    if (ContrastRatio(foreground, background) >= minimum) return foreground;
    const QColor target = ContrastRatio(Qt::black, background) >= ContrastRatio(Qt::white, background)
                              ? QColor(Qt::black)
                              : QColor(Qt::white);
    // The contrast grows with the amount mixed in: halve the interval.
    double low = 0, high = 1;
    for (int step = 0; step < 20; ++step) {
        const double middle = (low + high) / 2;
        (ContrastRatio(Mixed(foreground, target, middle), background) >= minimum ? high : low) = middle;
    }
    return Mixed(foreground, target, high);
}
