#include "model/scenario.h"

#include <cmath>
#include <sstream>

#include "model/errors.h"
#include "model/lognormal_precipitation.h"

namespace kelmar {

namespace {

// No monthly mean change a scenario is meant for comes near it; beyond it a
// value is more likely a typing error (a temperature typed for a change).
constexpr double LARGEST_CHANGE = 50;  // degC

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

void ValidateScenario(const TScenario& s, bool observed, int years) {
    const std::string where = s.Name.empty() ? "The scenario" : "The scenario \"" + s.Name + "\"";
    for (int k = 1; k <= 12; ++k) {
        if (!std::isfinite(s.DeltaT[k]) || std::fabs(s.DeltaT[k]) > LARGEST_CHANGE)
            throw KelmarError(where + " has a temperature change of " + Number(s.DeltaT[k]) + " for month " +
                              std::to_string(k) + "; a change lies within -50 to 50 \u00b0C.");
        if (!std::isfinite(s.PrecFactor[k]) || s.PrecFactor[k] <= 0)
            throw KelmarError(where + " has a precipitation factor of " + Number(s.PrecFactor[k]) + " for month " +
                              std::to_string(k) + "; a factor is a number above 0.");
    }
    if (!std::isfinite(s.Variability) || s.Variability <= 0)
        throw KelmarError(where + " has a variability factor of " + Number(s.Variability) +
                          "; a factor is a number above 0.");
    if (observed && s.Variability != 1)
        throw KelmarError(where + " scales the variability (" + Number(s.Variability) +
                          "), which only simulated weather has: an observed record keeps its own.");
    if (!std::isfinite(s.TrendT) || std::fabs(YearChange(s.TrendT, years)) > LARGEST_CHANGE)
        throw KelmarError(where + " has a temperature trend of " + Number(s.TrendT) +
                          " \u00b0C per 100 years, which over " + std::to_string(years) +
                          " years goes beyond a change of 50 \u00b0C.");
    if (!std::isfinite(s.TrendPrec) || YearFactor(s.TrendPrec, years) <= 0)
        throw KelmarError(where + " has a precipitation trend of " + Number(s.TrendPrec) +
                          " % per 100 years, which over " + std::to_string(years) +
                          " years leaves no precipitation; a trend must keep the factor above 0.");
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
