#include "numerics/evapotranspiration.h"

#include <cmath>
#include <numbers>

namespace kelmar {

namespace {

constexpr int DAYS_IN_MONTH[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// Solar declination at mid-month, degrees.
constexpr double SOLAR_DECLINATION[13] = {0,    -21.2, -12.8, -2.2, 9.7,  18.8, 23.3,
                                          21.6, 14.2,  3.1,   -8.4, -18.4, -23.3};

// Blaney-Criddle monthly crop coefficients: 0.2 outside, 0.6 inside the
// growing season (April to September).
constexpr double BC_COEFFICIENT[13] = {0,   0.2, 0.2, 0.2, 0.6, 0.6, 0.6,
                                       0.6, 0.6, 0.6, 0.2, 0.2, 0.2};

constexpr double PI = std::numbers::pi;
constexpr double MM_PER_INCH = 25.4;
constexpr double ZERO_FAHRENHEIT = -160.0 / 9.0;  // degC

}  // namespace

double Tangent(double x) { return std::sin(x) / std::cos(x); }

double ArcCosine(double x) {
    if (x == -1.0) return PI;
    if (x == 1.0) return 0.0;
    return PI / 2 - std::atan(x / std::sqrt(1 - x * x));
}

MonthArray DaylightShares(double latitude) {
    const double phi = latitude * PI / 180;
    MonthArray hours{};
    double annualHours = 0.0;
    for (int i = 1; i <= 12; ++i) {
        const double delta = SOLAR_DECLINATION[i] * PI / 180;
        double x = Tangent(delta) * (-Tangent(phi));
        if (x < -1) x = -0.999999;  // polar day
        if (x > 1) x = 0.999999;    // polar night
        hours[i] = ArcCosine(x) * 24 * DAYS_IN_MONTH[i] / PI;
        annualHours += hours[i];
    }
    MonthArray shares{};
    for (int i = 1; i <= 12; ++i) shares[i] = hours[i] / annualHours;
    return shares;
}

double PETFromShare(int month, double daylightShare, double airTemperature) {
    if (!(airTemperature > ZERO_FAHRENHEIT)) return 0.0;
    return MM_PER_INCH * BC_COEFFICIENT[month] * daylightShare * (1.8 * airTemperature + 32);
}

double MonthlyPET(int month, double latitude, double airTemperature) {
    return PETFromShare(month, DaylightShares(latitude)[month], airTemperature);
}

}  // namespace kelmar
