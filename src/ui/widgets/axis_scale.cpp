#include "ui/widgets/axis_scale.h"

#include <algorithm>
#include <cmath>

namespace kelmar::ui {

double NiceStep(double span, int maxIntervals) {
    if (!(span > 0) || !std::isfinite(span) || maxIntervals < 1) return 1;
    const double rough = span / maxIntervals;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (double factor : {1.0, 2.0, 5.0, 10.0})
        if (factor * power >= rough * (1 - 1e-9)) return factor * power;
    return 10 * power;
}

AxisRange RoundedRange(double min, double max, int maxIntervals) {
    // One interval cannot always hold the range (-5..35 widens to -50..50
    // at a step of 50, to -100..100 at 100, ...); two always can.
    maxIntervals = std::max(maxIntervals, 2);
    if (min > max) std::swap(min, max);
    if (min == max) {
        min -= 1;
        max += 1;
    }
    double step = NiceStep(max - min, maxIntervals);
    double low = std::floor(min / step) * step;
    double high = std::ceil(max / step) * step;
    // Widening may add an interval; a coarser step then keeps the count.
    while ((high - low) / step > maxIntervals + 1e-9) {
        step = NiceStep(high - low, maxIntervals);
        low = std::floor(min / step) * step;
        high = std::ceil(max / step) * step;
    }
    return {low, high, step};
}

int LabelDecimals(double step) {
    if (!(step > 0) || step >= 1) return 0;
    return std::clamp(static_cast<int>(std::ceil(-std::log10(step) - 1e-9)), 0, 6);
}

}  // namespace kelmar::ui
