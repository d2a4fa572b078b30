#include "model/weather_generator.h"

#include <algorithm>
#include <cmath>

#include "model/site_constants.h"

namespace kelmar {

namespace {

// First-order autoregression of the soil temperature on the previous month's
// anomaly, with the month's air-temperature anomaly as second predictor.
double SimulatedSoilTemperature(TModel& model, int k) {
    const TClimatology& clim = model.Climate;
    const TYearWork& work = model.Work;
    const double z = model.Random.NormalDeviate(1, 0);
    return clim.av_Ts[k] + clim.Bss[k] * (work.Tsoil[k - 1] - clim.av_Ts[k - 1]) +
           clim.Bsa[k] * (work.Tair[k] - clim.av_Ta[k]) + clim.Ss[k] * z;
}

}  // namespace

void GenerateAirAndPrecipitation(TModel& model, int yearIndex) {
    const TClimatology& clim = model.Climate;
    TYearWork& work = model.Work;
    work.Tair[0] = work.Tair[12];
    work.Tsoil[0] = work.Tsoil[12];

    if (model.Settings.InpDat) {
        // Observed values are used as stored; a missing one is not replaced.
        for (int k = 1; k <= 12; ++k) {
            work.Tair[k] = model.Weather.Tair[yearIndex][k];
            work.Prec[k] = model.Weather.Prec[yearIndex][k];
        }
        return;
    }

    // Lognormal precipitation: always positive.
    for (int k = 1; k <= 12; ++k)
        work.Prec[k] = std::exp(model.Random.NormalDeviate(clim.sigma_P[k], clim.mu_P[k]));
    // Air temperature: previous month's anomaly and the month's precipitation
    // anomaly in log space.
    for (int k = 1; k <= 12; ++k) {
        const double z = model.Random.NormalDeviate(1, 0);
        work.Tair[k] = clim.av_Ta[k] + clim.Baa[k] * (work.Tair[k - 1] - clim.av_Ta[k - 1]) +
                       clim.Bap[k] * (std::log(work.Prec[k]) - clim.mu_P[k]) + clim.Sa[k] * z;
    }
}

void GenerateSoilTemperature(TModel& model, int yearIndex, int k) {
    TYearWork& work = model.Work;
    if (model.Settings.InpDat) {
        const double stored = model.Weather.Tsoil[yearIndex][k];
        // An observation below -90 is missing (-90 itself counts here) and is
        // filled by the generator's soil equation (one draw); the store itself
        // keeps its gap.
        work.Tsoil[k] = stored < PRESENT_LIMIT ? SimulatedSoilTemperature(model, k) : stored;
    } else {
        work.Tsoil[k] = SimulatedSoilTemperature(model, k);
    }
}

void SimulateWeather(TModel& model, int years, bool withSoil, TWeatherStore& into) {
    model.Settings.InpDat = false;
    into.FillMissing();
    SetRunStartState(model);
    const int count = std::clamp(years, 0, MAX_YEARS);
    for (int i = 1; i <= count; ++i) {
        GenerateAirAndPrecipitation(model, i);
        for (int k = 1; k <= 12; ++k) {
            if (withSoil) GenerateSoilTemperature(model, i, k);
            into.Tair[i][k] = model.Work.Tair[k];
            into.Prec[i][k] = model.Work.Prec[k];
            if (withSoil) into.Tsoil[i][k] = model.Work.Tsoil[k];
        }
    }
}

}  // namespace kelmar
