#include "model/site_constants.h"

#include <cmath>

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

bool AllFinite(const TSiteConstants& c) {
    for (double v : {c.H_ff, c.S_WP, c.S_FC, c.S_Sat, c.S_0, c.S_lim})
        if (!std::isfinite(v)) return false;
    for (int k = 1; k <= 12; ++k)
        if (!std::isfinite(c.S_crit[k])) return false;
    return true;
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
    if (!AllFinite(c))
        throw KelmarError(
            "Site parameters M_ff and D_ff give a forest-floor thickness or water storages that are "
            "not finite numbers.");
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
