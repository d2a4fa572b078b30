#include "model/monthly_balance.h"

#include <cmath>

#include "numerics/evapotranspiration.h"

namespace kelmar {

namespace {

// Floor of the runoff coefficient: the share that runs off when the input
// just meets the potential evapotranspiration.
constexpr double MIN_RUNOFF_COEF = 0.2;

// Runoff coefficient from the month's water input and potential
// evapotranspiration: 0.2 while the input falls short, rising towards 1 as
// the input exceeds the demand. The dry ratio is only needed in the second
// case, so a month without any input never divides by it.
void SetRunoffCoefficient(TYearWork& work, double pet) {
    const double x = work.WaterInput;
    if (x < pet || x == 0) {
        work.DryRatio = x == 0 ? 0.0 : 1 - pet / x;
        work.RunoffCoef = MIN_RUNOFF_COEF;
        return;
    }
    const double r = 1 - pet / x;
    work.DryRatio = r;
    work.RunoffCoef = std::sqrt(r * r + MIN_RUNOFF_COEF * MIN_RUNOFF_COEF * (1 - r * r));
}

// Trapezoidal (Crank-Nicolson) solution of S_end - S_start = X - ET - R with
// ET = PET * S_mean / S_crit and R = E * X * S_mean / S_lim, falling back to
// evapotranspiration at the potential rate when the mean storage exceeds the
// critical storage.
void ThawedMonthStorage(TYearWork& work, const TSiteConstants& c, int k) {
    const double x = work.WaterInput;
    const double pet = work.PET[k];
    const double sStart = work.S_start[k];
    const double a = pet / (2 * c.S_crit[k]);
    const double b = work.RunoffCoef * x / (2 * c.S_lim);

    work.S_end[k] = (x - sStart * (a + b - 1)) / (a + b + 1);
    work.S_mean[k] = (sStart + work.S_end[k]) * 0.5;
    work.ET[k] = pet * work.S_mean[k] / c.S_crit[k];
    if (work.S_mean[k] > c.S_crit[k]) {
        work.S_end[k] = (x - pet - sStart * (b - 1)) / (b + 1);
        work.S_mean[k] = (sStart + work.S_end[k]) * 0.5;
        work.ET[k] = pet;
    }
    // The storage cannot exceed saturation; the month's moisture still comes
    // from the uncut mean.
    if (work.S_end[k] > c.S_Sat) work.S_end[k] = c.S_Sat;
}

}  // namespace

void MonthTemperatures(TYearWork& work, const TSiteConstants& constants, int k) {
    work.T_ms[k] = work.Tsoil[k] + constants.ForestOffset[k];
    const double tAir = work.Tair[k];
    const double tMs = work.T_ms[k];
    if (tAir > 0 && tMs > 0)
        work.T_ff[k] = tAir;
    else if (tAir < 0 && tMs < 0)
        work.T_ff[k] = tMs;
    else
        work.T_ff[k] = 0;
    work.PET[k] = PETFromShare(k, constants.DaylightShare[k], tAir);
}

void MonthWaterBalance(TYearWork& work, const TSiteParams& site, const TSiteConstants& constants,
                       int k) {
    work.S_start[k] = k == 1 ? work.S_end[12] : work.S_end[k - 1];

    if (work.Tair[k] > 0) {
        // Snow of the winter melts into the first thawed month after a frozen one.
        work.WaterInput = work.Tair[k - 1] < 0 ? work.Prec[k] + work.SnowStore : work.Prec[k];
        SetRunoffCoefficient(work, work.PET[k]);
        ThawedMonthStorage(work, constants, k);
    } else {
        // Frozen: the storage keeps still and the month's water goes to the snow.
        work.S_end[k] = work.S_start[k];
        work.S_mean[k] = work.S_start[k];
        work.ET[k] = work.PET[k];
    }

    // 0.1: one vol.% over 1 m of mineral soil holds 10 mm.
    work.W_ms_vol[k] = (work.S_mean[k] + constants.S_WP) * 0.1 / (constants.H_ff * site.Corr + 1);
    work.W_ms_mass[k] = work.W_ms_vol[k] / site.D_ms;
    work.W_ff_vol[k] = site.Corr * work.W_ms_vol[k];
    work.W_ff_mass[k] = work.W_ff_vol[k] / site.D_ff;
}

void UpdateSnow(TYearWork& work, int k) {
    if (work.Tair[k] > 0)
        work.SnowStore = 0;
    else
        work.SnowStore = work.SnowStore + work.Prec[k] - work.ET[k];
}

}  // namespace kelmar
