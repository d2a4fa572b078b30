#include "numerics/evapotranspiration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace kelmar {
namespace {

struct PetCase {
    int month;
    double latitude;
    double airTemperature;
    double expected;  // mm
    double tolerance;
};

TEST(MonthlyPET, WorkedValues) {
    const PetCase cases[] = {
        // At the equator every day has 12 hours: the share is days / 365.
        {7, 0, 20, 25.4 * 0.6 * (31.0 / 365.0) * 68, 1e-9},
        {12, 80, 0, 0.0121, 0.00005},   // polar night, from the clamp to 0.999999
        {6, 80, 5, 99.85, 0.005},       // polar day
        {1, 60, -17.7, 0.0318, 0.00005},
        {1, 60, -17.78, 0.0, 0.0},      // below 0 degF
        {4, -45, 10, 56.07, 0.005},     // southern latitudes are negative
    };
    for (const PetCase& c : cases) {
        const double pet = MonthlyPET(c.month, c.latitude, c.airTemperature);
        EXPECT_NEAR(pet, c.expected, c.tolerance)
            << "MonthlyPET(" << c.month << ", " << c.latitude << ", " << c.airTemperature << ")";
    }
}

TEST(MonthlyPET, ZeroFahrenheitThresholdIsStrict) {
    EXPECT_EQ(MonthlyPET(5, 45, -160.0 / 9.0), 0.0);
    EXPECT_GT(MonthlyPET(5, 45, std::nextafter(-160.0 / 9.0, 0.0)), 0.0);
}

TEST(MonthlyPET, SharesOfTheYearSumToOneAtEveryLatitude) {
    for (double lat : {-90.0, -66.0, -30.0, 0.0, 45.0, 67.5, 80.0, 90.0}) {
        const MonthArray shares = DaylightShares(lat);
        double sum = 0;
        for (int m = 1; m <= 12; ++m) {
            EXPECT_TRUE(std::isfinite(shares[m])) << "latitude " << lat << " month " << m;
            EXPECT_GT(shares[m], 0.0) << "latitude " << lat << " month " << m;
            sum += shares[m];
        }
        EXPECT_NEAR(sum, 1.0, 1e-12) << "latitude " << lat;
    }
}

TEST(ArcCosine, LimitsAtTheEndsOfItsDomain) {
    EXPECT_EQ(ArcCosine(-1.0), std::numbers::pi);
    EXPECT_EQ(ArcCosine(1.0), 0.0);
    EXPECT_NEAR(ArcCosine(0.5), std::acos(0.5), 1e-15);
    EXPECT_NEAR(Tangent(0.3), std::tan(0.3), 1e-15);
}

}  // namespace
}  // namespace kelmar
