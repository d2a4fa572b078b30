// Statistics over series in which values at or below -90 are missing.
#pragma once

namespace kelmar {

// Mean of the present values among the first n; MISSING_VALUE if none.
double MeanPresent(int n, const double* values);

// Sample standard deviation of the present values among the first n, in the
// one-pass form sqrt((S2 - S1^2/N) / (N - 1)); MISSING_VALUE if fewer than two.
// A variance that rounding makes slightly negative counts as 0.
double StdDevPresent(int n, const double* values);

// Regression of y on x1 and x2 over the positions where all three are present.
// Writes the coefficient of x1 (b1), of x2 (b2) and the residual deviation
// (sRes); all three are MISSING_VALUE with fewer than four complete triples.
// An output whose formula would divide by zero (a constant or collinear
// series) is MISSING_VALUE.
void Regression2(int n, const double* x1, const double* x2, const double* y,
                 double& b1, double& b2, double& sRes);

}  // namespace kelmar
