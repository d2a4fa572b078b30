#include "numerics/climatology_estimation.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "numerics/statistics.h"

namespace kelmar {

namespace {

// A dry month enters the precipitation statistics, and its logarithm, as 0.01 mm.
constexpr double DRY_MONTH_PRECIPITATION = 0.01;  // mm

// One month's values across the years of the record, position j - 1 for year index j.
struct MonthSeries {
    std::array<double, MAX_YEARS> P;       // precipitation, dry months as 0.01 mm
    std::array<double, MAX_YEARS> LnP;     // its natural logarithm
    std::array<double, MAX_YEARS> Ta;      // air temperature
    std::array<double, MAX_YEARS> TaPrev;  // air temperature of the month before
    std::array<double, MAX_YEARS> Ts;      // soil temperature
    std::array<double, MAX_YEARS> TsPrev;  // soil temperature of the month before
};

// The value of the month before month m of year index j; January's is the
// December of the year before, which the first year does not have.
double PreviousMonth(const YearMonthSeries& series, int j, int m) {
    if (m > 1) return series[j][m - 1];
    return j > 1 ? series[j - 1][12] : MISSING_VALUE;
}

void BuildSeries(const TWeatherStore& weather, int n, int m, MonthSeries& s) {
    for (int j = 1; j <= n; ++j) {
        const double p = weather.Prec[j][m];
        s.P[j - 1] = p == 0 ? DRY_MONTH_PRECIPITATION : p;
        // A missing or negative precipitation has no logarithm: the year then
        // drops out of the air-temperature regression.
        s.LnP[j - 1] = s.P[j - 1] > 0 ? std::log(s.P[j - 1]) : MISSING_VALUE;
        s.Ta[j - 1] = weather.Tair[j][m];
        s.TaPrev[j - 1] = PreviousMonth(weather.Tair, j, m);
        s.Ts[j - 1] = weather.Tsoil[j][m];
        s.TsPrev[j - 1] = PreviousMonth(weather.Tsoil, j, m);
    }
}

}  // namespace

void EstimateClimatology(TModel& model) {
    const std::int64_t span =
        static_cast<std::int64_t>(model.Settings.YearEnd) - model.Settings.YearBeg + 1;
    const int n = static_cast<int>(std::clamp<std::int64_t>(span, 0, MAX_YEARS));
    TClimatology& c = model.Climate;
    MonthSeries s;

    for (int m = 1; m <= 12; ++m) {
        BuildSeries(model.Weather, n, m, s);

        c.av_Ta[m] = MeanPresent(n, s.Ta.data());
        c.std_Ta[m] = StdDevPresent(n, s.Ta.data());

        c.av_P[m] = MeanPresent(n, s.P.data());
        c.Cv_P[m] = c.av_P[m] != 0 ? StdDevPresent(n, s.P.data()) / c.av_P[m] : MISSING_VALUE;

        c.av_Ts[m] = MeanPresent(n, s.Ts.data());
        // A mean of exactly 0 is taken for a month without soil data.
        if (c.av_Ts[m] == 0) c.av_Ts[m] = MISSING_VALUE;
        c.std_Ts[m] = StdDevPresent(n, s.Ts.data());

        Regression2(n, s.TaPrev.data(), s.LnP.data(), s.Ta.data(), c.Baa[m], c.Bap[m], c.Sa[m]);
        Regression2(n, s.TsPrev.data(), s.Ta.data(), s.Ts.data(), c.Bss[m], c.Bsa[m], c.Ss[m]);
    }
}

}  // namespace kelmar
