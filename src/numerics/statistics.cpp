#include "numerics/statistics.h"

#include <cmath>

#include "basics/basics.h"

namespace kelmar {

namespace {

// A difference of one-pass sums that is exactly zero for a constant series
// can come out as a tiny negative number; its true value is then 0.
double NonNegative(double value) { return value < 0.0 ? 0.0 : value; }

double FiniteOrMissing(double value) { return std::isfinite(value) ? value : MISSING_VALUE; }

}  // namespace

double MeanPresent(int n, const double* values) {
    double sum = 0.0;
    int count = 0;
    for (int i = 0; i < n; ++i) {
        if (IsPresent(values[i])) {
            sum += values[i];
            ++count;
        }
    }
    return count == 0 ? MISSING_VALUE : sum / count;
}

double StdDevPresent(int n, const double* values) {
    double s1 = 0.0, s2 = 0.0;
    int count = 0;
    for (int i = 0; i < n; ++i) {
        const double v = values[i];
        if (IsPresent(v)) {
            s1 += v;
            s2 += v * v;
            ++count;
        }
    }
    if (count < 2) return MISSING_VALUE;
    return FiniteOrMissing(std::sqrt(NonNegative((s2 - s1 * s1 / count) / (count - 1))));
}

void Regression2(int n, const double* x1, const double* x2, const double* y,
                 double& b1, double& b2, double& sRes) {
    double N = 0, Sx1 = 0, Sx2 = 0, Sy = 0, Sx1x1 = 0, Sx2x2 = 0, Syy = 0, Sx1x2 = 0,
           Sx1y = 0, Sx2y = 0;
    for (int i = 0; i < n; ++i) {
        if (!IsPresent(x1[i]) || !IsPresent(x2[i]) || !IsPresent(y[i])) continue;
        N += 1;
        Sx1 += x1[i];
        Sx2 += x2[i];
        Sy += y[i];
        Sx1x1 += x1[i] * x1[i];
        Sx2x2 += x2[i] * x2[i];
        Syy += y[i] * y[i];
        Sx1x2 += x1[i] * x2[i];
        Sx1y += x1[i] * y[i];
        Sx2y += x2[i] * y[i];
    }
    b1 = b2 = sRes = MISSING_VALUE;
    if (N < 4) return;

    const double C11 = NonNegative(Sx1x1 - Sx1 * Sx1 / N);
    const double C22 = NonNegative(Sx2x2 - Sx2 * Sx2 / N);
    const double Cyy = NonNegative(Syy - Sy * Sy / N);
    const double C12 = Sx1x2 - Sx1 * Sx2 / N;
    const double C1y = Sx1y - Sx1 * Sy / N;
    const double C2y = Sx2y - Sx2 * Sy / N;

    const double Den = C11 * C22 - C12 * C12;
    if (Den != 0.0) {
        b1 = FiniteOrMissing((C1y * C22 - C2y * C12) / Den);
        b2 = FiniteOrMissing((C2y * C11 - C1y * C12) / Den);
    }

    const double sY = std::sqrt(Cyy / (N - 1));
    if (C11 * C22 == 0.0 || C11 * Cyy == 0.0 || C22 * Cyy == 0.0) return;
    const double r12sq = C12 * C12 / (C11 * C22);
    const double r1ysq = C1y * C1y / (C11 * Cyy);
    const double r2ysq = C2y * C2y / (C22 * Cyy);
    const double D = 1 - r1ysq - r2ysq - r12sq + 2 * C1y * C2y * C12 / (C11 * C22 * Cyy);
    if (1 - r12sq == 0.0) return;
    sRes = FiniteOrMissing(sY * std::sqrt(NonNegative(D)) / (1 - r12sq));
}

}  // namespace kelmar
