#include "model/site_constants.h"

#include <cmath>
#include <sstream>
#include <string>

#include "model/errors.h"
#include "model/forest_tables.h"
#include "numerics/evapotranspiration.h"

namespace kelmar {

namespace {

// Phase of the growing season of each month (1..12), from the monthly mean
// air temperatures. The class carries over from month to month; a month that
// meets no rule keeps the class of the month before.
std::array<int, 13> SeasonClasses(const TSiteParams& site, const MonthArray& av_Ta) {
    std::array<int, 13> classes{};
    int seasonClass = 0;
    for (int k = 1; k <= 12; ++k) {
        if (site.Permafr == 1) {
            seasonClass = 0;
        } else if (k <= 6 && av_Ta[k] < 10) {
            seasonClass = 0;
        } else if (av_Ta[k] > 10) {
            if (seasonClass < 3) ++seasonClass;
        } else if (av_Ta[k] < 3 && av_Ta[k - 1] > 3) {
            seasonClass = 4;
        } else if (av_Ta[k] < 3) {
            seasonClass = 5;
        }
        classes[k] = seasonClass;
    }
    return classes;
}

std::string Number(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

// Names the site parameters behind the first derived constant that is not a
// finite number, in the order they are derived: each constant adds the
// parameters it brings in, so an earlier finite constant clears its own.
void RequireFiniteConstants(const TSiteParams& s, const TSiteConstants& c) {
    // Every storage spreads its forest-floor share over H_ff, which may be what is too large.
    const std::string layer = " over a forest floor H_ff = " + Number(c.H_ff) + " m thick (M_ff / D_ff)";
    const auto refuse = [&layer](const std::string& parameters, const char* constant) {
        throw KelmarError("Site parameters " + parameters + " give " + constant +
                          " that is not a finite number; they are too large or too small for the run.");
    };
    if (!std::isfinite(c.H_ff))
        throw KelmarError("Site parameters M_ff = " + Number(s.M_ff) + " and D_ff = " + Number(s.D_ff) +
                          " give a forest-floor thickness H_ff that is not a finite number.");
    if (!std::isfinite(c.S_WP))
        refuse("W_WP_ff = " + Number(s.W_WP_ff) + " and W_WP_ms = " + Number(s.W_WP_ms) + layer,
               "a water storage at wilting point S_WP");
    if (!std::isfinite(c.S_FC))
        refuse("W_FC_ff = " + Number(s.W_FC_ff) + " and W_FC_ms = " + Number(s.W_FC_ms) + layer,
               "an available water storage at field capacity S_FC");
    if (!std::isfinite(c.S_Sat))
        refuse("W_Sat_ff = " + Number(s.W_Sat_ff) + " and W_Sat_ms = " + Number(s.W_Sat_ms) + layer,
               "an available water storage at saturation S_Sat");
    if (!std::isfinite(c.S_0))
        refuse("Corr = " + Number(s.Corr) + " and Wv0_ms = " + Number(s.Wv0_ms) + layer, "an initial water storage S_0");
    for (int k = 1; k <= 12; ++k)
        if (!std::isfinite(c.S_crit[k]))
            refuse(std::string(s.Saturat == 1 ? "W_Sat_ff and W_Sat_ms" : "W_FC_ff and W_FC_ms") + layer,
                   "a critical storage S_crit");
}

}  // namespace

TSiteConstants ComputeSiteConstants(const TSiteParams& site, const TClimatology& climate) {
    TSiteConstants c;

    const int forestRow = (site.Fortype >= ftSpruce && site.Fortype <= ftOak) ? int{site.Fortype} : int{ftOther};
    for (int k = 1; k <= 12; ++k) c.ForestOffset[k] = ForestOffsetTable[forestRow][k - 1];

    c.H_ff = site.M_ff / site.D_ff * 0.001;  // kg/m^2 over g/cm^3 gives mm; x 0.001 gives m
    // 1 vol.% over 1 m holds 10 mm.
    c.S_WP = (c.H_ff * site.W_WP_ff + site.W_WP_ms) * 10;
    c.S_FC = (c.H_ff * site.W_FC_ff + site.W_FC_ms) * 10 - c.S_WP;
    c.S_Sat = (c.H_ff * site.W_Sat_ff + site.W_Sat_ms) * 10 - c.S_WP;
    c.S_0 = (c.H_ff * site.Corr + 1) * 10 * site.Wv0_ms - c.S_WP;
    const bool groundWater = site.Saturat == 1;
    c.S_lim = groundWater ? c.S_Sat : c.S_FC;

    const std::array<int, 13> classes = SeasonClasses(site, climate.av_Ta);
    for (int k = 1; k <= 12; ++k) {
        const double factor = SeasonFactor[classes[k]];
        c.S_crit[k] = groundWater ? factor * c.S_Sat / 350 : factor * c.S_FC / 200;
    }

    c.DaylightShare = DaylightShares(site.Lat);
    return c;
}

void ValidateSiteForRun(const TSiteParams& site, const TSiteConstants& c) {
    if (site.D_ff == 0)
        throw KelmarError("Site parameter D_ff (organic layer bulk density) is 0; it must not be zero.");
    if (site.D_ms == 0)
        throw KelmarError("Site parameter D_ms (mineral soil bulk density) is 0; it must not be zero.");
    RequireFiniteConstants(site, c);
    if (c.H_ff * site.Corr + 1 == 0)
        throw KelmarError("Site parameter Corr makes the profile moisture undefined (H_ff x Corr = -1).");
    if (site.Saturat == 1 && c.S_Sat == 0)
        throw KelmarError(
            "Site parameters W_Sat_ff and W_Sat_ms give no available water at saturation "
            "(S_Sat = 0 mm); saturation must differ from the wilting point.");
    if (site.Saturat != 1 && c.S_FC == 0)
        throw KelmarError(
            "Site parameters W_FC_ff and W_FC_ms give no available water at field capacity "
            "(S_FC = 0 mm); field capacity must differ from the wilting point.");
}

void SetRunStartState(TModel& model) {
    TClimatology& clim = model.Climate;
    TYearWork& work = model.Work;
    clim.av_Ta[0] = clim.av_Ta[12];
    clim.av_Ts[0] = clim.av_Ts[12];
    work.SnowStore = 0;
    work.S_end[12] = model.Constants.S_0;
    // Two successive draws, air temperature first, in both input modes.
    work.Tair[12] = clim.std_Ta[12] * model.Random.NormalDeviate(1, 0) + clim.av_Ta[12];
    work.Tsoil[12] = clim.std_Ts[12] * model.Random.NormalDeviate(1, 0) + clim.av_Ts[12];
}

}  // namespace kelmar
