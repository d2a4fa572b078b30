#include "model/scenario.h"

#include <cmath>
#include <sstream>

#include "model/errors.h"
#include "model/lognormal_precipitation.h"

namespace kelmar {

namespace {

// The bounds of a scenario's values. The largest warming any emission
// scenario family projects for the end of the century is about 5 degC as a
// global annual mean and about 10 to 12 degC for a month of a high-latitude
// winter (polar amplification); 20 degC leaves room for any such study, and
// a larger value is more likely a typing error (a temperature typed for a
// change). Monthly precipitation projections change by well under a factor
// of 3 either way, and the year-to-year variability as little: a tenfold
// drier or wetter month, or variability, belongs to no climate study, and
// values beyond would only drive the model out of its range (a factor of
// 1e300 overflows the water balance). A trend must keep every year of the
// run, month change included, within the same bounds.
constexpr double LARGEST_CHANGE = 20;  // degC, either sign
constexpr double SMALLEST_FACTOR = 0.1;
constexpr double LARGEST_FACTOR = 10;

bool WithinChange(double change) { return change >= -LARGEST_CHANGE && change <= LARGEST_CHANGE; }
bool WithinFactor(double factor) { return factor >= SMALLEST_FACTOR && factor <= LARGEST_FACTOR; }

std::string Number(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

double YearChange(double trendT, int yearIndex) { return trendT * (yearIndex - 1) / 100; }
double YearFactor(double trendPrec, int yearIndex) { return 1 + trendPrec * (yearIndex - 1) / 10000; }

bool AllEqual(const MonthArray& values, double value) {
    for (int k = 1; k <= 12; ++k)
        if (values[k] != value) return false;
    return true;
}

}  // namespace

bool TScenario::IsZero() const {
    return AllEqual(DeltaT, 0) && AllEqual(PrecFactor, 1) && Variability == 1 && TrendT == 0 && TrendPrec == 0;
}

std::string TScenario::Describe() const {
    std::string text;
    const auto add = [&text](const std::string& part) {
        if (!text.empty()) text.append(", ");
        text.append(part);
    };
    if (!AllEqual(DeltaT, 0)) {
        std::string change = DeltaT[1] > 0 ? "+" : "";
        change.append(Number(DeltaT[1])).append(" \u00b0C");
        add(AllEqual(DeltaT, DeltaT[1]) ? change : std::string("monthly \u00b0C changes"));
    }
    if (!AllEqual(PrecFactor, 1))
        add(AllEqual(PrecFactor, PrecFactor[1]) ? "precipitation \u00d7 " + Number(PrecFactor[1])
                                                 : std::string("monthly precipitation factors"));
    if (Variability != 1) add("variability \u00d7 " + Number(Variability));
    if (TrendT != 0) add("trend " + Number(TrendT) + " \u00b0C per 100 years");
    if (TrendPrec != 0) add("trend " + Number(TrendPrec) + " % per 100 years");
    if (text.empty()) text = "no change";
    return Name.empty() ? text : Name + " (" + text + ")";
}

void ValidateChangeValue(double change, const std::string& name) {
    if (!WithinChange(change))
        throw KelmarError(name + " " + Number(change) + " lies outside -" + Number(LARGEST_CHANGE) + " to " +
                          Number(LARGEST_CHANGE) + " \u00b0C, the changes a scenario takes.");
}

void ValidateFactorValue(double factor, const std::string& name) {
    if (!WithinFactor(factor))
        throw KelmarError(name + " " + Number(factor) + " lies outside " + Number(SMALLEST_FACTOR) + " to " +
                          Number(LARGEST_FACTOR) + ", the factors a scenario takes.");
}

void ValidateScenario(const TScenario& s, bool observed, int years) {
    const std::string where = s.Name.empty() ? "The scenario" : "The scenario \"" + s.Name + "\"";
    const std::string changeBounds = "within -" + Number(LARGEST_CHANGE) + " to " + Number(LARGEST_CHANGE) + " \u00b0C";
    const std::string factorBounds = "within " + Number(SMALLEST_FACTOR) + " to " + Number(LARGEST_FACTOR);
    for (int k = 1; k <= 12; ++k) {
        if (!WithinChange(s.DeltaT[k]))
            throw KelmarError(where + " has a temperature change of " + Number(s.DeltaT[k]) + " for month " +
                              std::to_string(k) + "; a change lies " + changeBounds + ".");
        if (!WithinFactor(s.PrecFactor[k]))
            throw KelmarError(where + " has a precipitation factor of " + Number(s.PrecFactor[k]) + " for month " +
                              std::to_string(k) + "; a factor lies " + factorBounds + ".");
    }
    if (!WithinFactor(s.Variability))
        throw KelmarError(where + " has a variability factor of " + Number(s.Variability) + "; a factor lies " +
                          factorBounds + ".");
    if (observed && s.Variability != 1)
        throw KelmarError(where + " scales the variability (" + Number(s.Variability) +
                          "), which only simulated weather has: an observed record keeps its own.");
    // The trend is linear: each month's change and factor lie furthest out
    // in the first year (the month's own, checked above) or the last.
    const std::string over = " over " + std::to_string(years) + " years";
    for (int k = 1; k <= 12; ++k) {
        const double change = s.DeltaT[k] + YearChange(s.TrendT, years);
        if (!WithinChange(change))
            throw KelmarError(where + " has a temperature trend of " + Number(s.TrendT) + " \u00b0C per 100 years" +
                              ", which" + over + " changes month " + std::to_string(k) + " by " + Number(change) +
                              " \u00b0C; a change lies " + changeBounds + ".");
        const double factor = s.PrecFactor[k] * YearFactor(s.TrendPrec, years);
        if (!WithinFactor(factor))
            throw KelmarError(where + " has a precipitation trend of " + Number(s.TrendPrec) + " % per 100 years" +
                              ", which" + over + " takes month " + std::to_string(k) +
                              "'s precipitation factor to " + Number(factor) + "; a factor lies " + factorBounds +
                              ".");
    }
}

void ApplyScenario(TClimatology& climate, const TScenario& s) {
    for (int k = 1; k <= 12; ++k) {
        if (s.DeltaT[k] != 0) {
            if (IsPresent(climate.av_Ta[k])) climate.av_Ta[k] += s.DeltaT[k];
            if (IsPresent(climate.av_Ts[k])) climate.av_Ts[k] += s.DeltaT[k];
        }
        if (s.Variability != 1) {
            for (MonthArray* deviation : {&climate.std_Ta, &climate.Sa, &climate.Cv_P})
                if (IsPresent((*deviation)[k])) (*deviation)[k] *= s.Variability;
        }
        if (s.PrecFactor[k] != 1 && climate.av_P[k] > 0) climate.av_P[k] *= s.PrecFactor[k];
        if ((s.PrecFactor[k] != 1 || s.Variability != 1) && climate.av_P[k] > 0) {
            const double sigmaBefore = climate.sigma_P[k];
            DeriveLognormalMonth(climate, k);
            if (s.Variability != 1 && IsPresent(climate.Bap[k]) && climate.sigma_P[k] > 0)
                climate.Bap[k] *= s.Variability * sigmaBefore / climate.sigma_P[k];
        }
    }
}

void ApplyScenario(TWeatherStore& weather, int years, const TScenario& s) {
    for (int i = 1; i <= years && i <= MAX_YEARS; ++i)
        for (int k = 1; k <= 12; ++k) {
            const double change = s.DeltaT[k] + YearChange(s.TrendT, i);
            const double factor = s.PrecFactor[k] * YearFactor(s.TrendPrec, i);
            if (change != 0) {
                if (IsPresent(weather.Tair[i][k])) weather.Tair[i][k] += change;
                if (IsPresent(weather.Tsoil[i][k])) weather.Tsoil[i][k] += change;
            }
            if (factor != 1 && IsPresent(weather.Prec[i][k])) weather.Prec[i][k] *= factor;
        }
}

void TrendClimatology(TClimatology& climate, const TClimatology& base, double trendT, double trendPrec,
                      int yearIndex) {
    const double change = YearChange(trendT, yearIndex);
    const double factor = YearFactor(trendPrec, yearIndex);
    const double changeBefore = YearChange(trendT, yearIndex - 1);
    for (int k = 0; k <= 12; ++k) {
        const double c = k == 0 ? changeBefore : change;
        climate.av_Ta[k] = base.av_Ta[k] + c;
        climate.av_Ts[k] = base.av_Ts[k] + c;
    }
    if (factor == 1) return;
    for (int k = 1; k <= 12; ++k) {
        climate.av_P[k] = base.av_P[k] * factor;
        DeriveLognormalMonth(climate, k);
    }
}

}  // namespace kelmar
