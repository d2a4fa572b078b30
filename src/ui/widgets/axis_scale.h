// Label-friendly axis ranges: steps of 1, 2 or 5 times a power of ten, and
// ranges widened to whole steps.
#pragma once

namespace kelmar::ui {

struct AxisRange {
    double Min;
    double Max;
    double Step;  // distance between labels
};

// The smallest step of 1, 2 or 5 times a power of ten that splits span into
// at most maxIntervals parts. A span of 0 or less gives 1.
double NiceStep(double span, int maxIntervals);

// [min, max] widened outwards to multiples of a nice step, in at most
// maxIntervals steps (at least 2); equal ends are first spread to a span of
// 2 around their value.
AxisRange RoundedRange(double min, double max, int maxIntervals);

// Digits after the decimal point that labels spaced by step need.
int LabelDecimals(double step);

}  // namespace kelmar::ui
