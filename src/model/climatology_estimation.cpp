#include "model/climatology_estimation.h"

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

// The years YearBeg..YearEnd, none when the range is empty and at most MAX_YEARS.
int YearsOfRange(const TRunSettings& settings) {
    const std::int64_t span = static_cast<std::int64_t>(settings.YearEnd) - settings.YearBeg + 1;
    return static_cast<int>(std::clamp<std::int64_t>(span, 0, MAX_YEARS));
}

}  // namespace

void EstimateClimatology(TClimatology& c, const TWeatherStore& weather, const TRunSettings& settings) {
    const int n = YearsOfRange(settings);
    MonthSeries s;

    for (int m = 1; m <= 12; ++m) {
        BuildSeries(weather, n, m, s);

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

int YearsForEstimate(const TWeatherStore& weather, const TRunSettings& settings) {
    const int n = YearsOfRange(settings);
    int years = 0;
    for (int j = 1; j <= n; ++j)
        for (int m = 1; m <= 12; ++m)
            if (IsPresent(weather.Tair[j][m]) || IsPresent(weather.Prec[j][m])) {
                ++years;
                break;
            }
    return years;
}

std::optional<std::string> RegressionShortfall(const TClimatology& climate, int years) {
    static constexpr const char* MONTHS[13] = {"",     "January", "February", "March",     "April",   "May",     "June",
                                               "July", "August",  "September", "October", "November", "December"};
    const struct {
        const char* Key;
        const MonthArray* Values;
        bool Soil;
    } coefficients[] = {
        {"Baa", &climate.Baa, false}, {"Bap", &climate.Bap, false}, {"Sa", &climate.Sa, false},
        {"Bss", &climate.Bss, true},  {"Bsa", &climate.Bsa, true},  {"Ss", &climate.Ss, true},
    };
    for (const auto& c : coefficients)
        for (int m = 1; m <= 12; ++m) {
            // Without soil data for the month its soil regression cannot be
            // had at any length of record; the missing mean says so already.
            if (c.Soil && !IsPresent(climate.av_Ts[m])) continue;
            if (IsPresent((*c.Values)[m])) continue;
            const std::string what = std::string("The regression coefficient ") + c.Key + " for " + MONTHS[m] +
                                     " could not be estimated and is missing (-99.90)";
            const std::string need = std::to_string(YEARS_FOR_REGRESSIONS);
            if (years < YEARS_FOR_REGRESSIONS)
                return what + ": the weather record, with " + std::to_string(years) +
                       (years == 1 ? " year" : " years") +
                       ", is too short for the regressions of the weather generator, which need at least " + need +
                       " years. A simulated run refuses this climatology.";
            return what + ": the weather record has too few years in which the month and the month before are "
                          "complete (the regressions need 4 such years, " + need +
                   " years of record for January) or its values do not vary. A simulated run refuses this "
                   "climatology.";
        }
    return std::nullopt;
}

}  // namespace kelmar
