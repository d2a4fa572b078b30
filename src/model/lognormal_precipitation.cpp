#include "model/lognormal_precipitation.h"

#include <cmath>

#include "model/errors.h"

namespace kelmar {

void DeriveLognormalMonth(TClimatology& climate, int m) {
    const double variance = climate.Cv_P[m] * climate.Cv_P[m] + 1;
    const double sigma = std::sqrt(std::log(variance));
    if (!std::isfinite(sigma)) throw KelmarError(OVERFLOW_MESSAGE);
    climate.sigma_P[m] = sigma;
    if (climate.av_P[m] == 0) throw KelmarError(DIVISION_BY_ZERO_MESSAGE);
    if (climate.av_P[m] < 0) throw KelmarError(INVALID_OPERATION_MESSAGE);
    const double mu = std::log(climate.av_P[m] / std::sqrt(variance));
    if (!std::isfinite(mu)) throw KelmarError(OVERFLOW_MESSAGE);
    climate.mu_P[m] = mu;
}

void DeriveLognormalPrecipitation(TClimatology& climate) {
    for (int m = 1; m <= 12; ++m) DeriveLognormalMonth(climate, m);
}

}  // namespace kelmar
