// A climate scenario by the delta-change method: the forcing of a run is
// changed, not copied. Air temperature gets a monthly change added,
// precipitation a monthly factor; optionally the year-to-year variability
// is scaled and a linear trend added over the run (transient runs).
//
// The soil temperature under grass is shifted with the air: an observed soil
// temperature gets the same change as the month's air temperature, and the
// generator's mean soil temperature (av_Ts) the same change as its mean air
// temperature. The soil equation works on anomalies from those means, so the
// soil-air difference of every month stays as observed and a gap filled by
// the generator agrees with the observed months around it.
#pragma once

#include <string>

#include "model/model_state.h"

namespace kelmar {

struct TScenario {
    TScenario() { PrecFactor.fill(1); }

    std::string Name;         // shown with the results; empty for the command line's --delta-t alone
    MonthArray DeltaT{};      // degC added to the air (and soil) temperature, months 1..12
    MonthArray PrecFactor{};  // ratio multiplying precipitation, months 1..12
    // Ratio multiplying the year-to-year variability of simulated weather:
    // the standard deviation of air temperature (std_Ta, Sa and the
    // precipitation term Bap) and the coefficient of variation of
    // precipitation (Cv_P). Simulated weather only.
    double Variability = 1;
    // Linear change over the run: year index i (first = 1) gets
    // TrendT * (i - 1) / 100 degC more and a precipitation factor
    // 1 + TrendPrec * (i - 1) / 10000 times the monthly one.
    double TrendT = 0;     // degC per 100 years
    double TrendPrec = 0;  // % per 100 years

    // True when the scenario changes nothing.
    bool IsZero() const;
    // "warm-dry (+2 °C, precipitation × 0.9)", without the name and its
    // brackets when it has none; "no change" for a zero scenario. UTF-8.
    std::string Describe() const;
};

// Refuses (KelmarError naming the scenario, the value and the bound) a
// scenario whose temperature change of a month lies beyond -20..20 degC, a
// precipitation or variability factor beyond 0.1..10 (not a number: beyond
// any), or a trend that takes a month's change or precipitation factor
// beyond those bounds in the last of `years` years (500 for simulated
// weather); and a variability factor with an observed record (`observed`),
// whose year-to-year variability is the record's own. The bounds hold any
// value a climate study uses (scenario.cpp says why).
void ValidateScenario(const TScenario& scenario, bool observed, int years);

// One value given for every month (a box of the window, --delta-t,
// --precip-factor), refused by the same bounds but named as it was given:
// `name` begins the message ("--delta-t 25 lies outside -20 to 20 °C, ...").
void ValidateChangeValue(double change, const std::string& name);
void ValidateFactorValue(double factor, const std::string& name);

// The climatology under the scenario, without the trend: av_Ta and av_Ts
// plus the change; av_P times the factor; std_Ta, Sa and Cv_P times the
// variability factor; then mu_P and sigma_P derived again as when a
// climatology is read, and Bap scaled so that the precipitation term of
// the air-temperature anomaly scales with the variability factor too
// (Bap * variability * sigma_P before / sigma_P after). Missing values
// (-99.9) stay missing.
void ApplyScenario(TClimatology& climate, const TScenario& scenario);

// The observed record of year indices 1..years under the scenario, trend
// included: air and soil temperature plus the change, precipitation times
// the factor; missing values stay missing.
void ApplyScenario(TWeatherStore& weather, int years, const TScenario& scenario);

// The climatology of year index `yearIndex` of a simulated run with a
// trend: `base` (the run's climatology, December slot 0 set) with the
// year's change added to av_Ta and av_Ts and its factor on av_P (mu_P
// derived again); slot 0 holds the December of the year before.
void TrendClimatology(TClimatology& climate, const TClimatology& base, double trendT, double trendPrec,
                      int yearIndex);

}  // namespace kelmar
