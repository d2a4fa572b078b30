// The model records: site parameters, derived site constants, climatology,
// observed weather, the working arrays of the simulated year and the results
// table. Every store is a fixed array sized for the longest run, so a run
// never allocates. Monthly arrays are indexed by month 1..12 (January = 1);
// slot 0, where an array has one, holds the December before January.
#pragma once

#include <array>
#include <cstdint>

#include "basics/basics.h"
#include "numerics/random_source.h"

namespace kelmar {

// Forest type codes of the site file. Any stored value outside 1..4 behaves
// as Other in the run.
enum TForestType : std::uint8_t {
    ftOther = 0,
    ftSpruce = 1,
    ftPine = 2,
    ftBirch = 3,
    ftOak = 4,
};

// The site, in site-file and site-grid order.
struct TSiteParams {
    double Lat = 0;       // degrees, north positive
    double M_ff = 0;      // kg/m^2, forest-floor mass per area
    double D_ff = 0;      // g/cm^3, forest-floor bulk density
    double W_WP_ff = 0;   // vol.%, forest floor at permanent wilting point
    double W_FC_ff = 0;   // vol.%, forest floor at field capacity
    double W_Sat_ff = 0;  // vol.%, forest floor at saturation
    double D_ms = 0;      // g/cm^3, mineral-soil bulk density
    double W_WP_ms = 0;   // vol.%, mineral soil at permanent wilting point
    double W_FC_ms = 0;   // vol.%, mineral soil at field capacity
    double W_Sat_ms = 0;  // vol.%, mineral soil at saturation
    double Wv0_ms = 0;    // vol.%, initial mineral-soil moisture
    double Corr = 0;      // ratio of forest-floor to mineral-soil moisture (vol.% / vol.%)
    std::uint8_t Saturat = 0;  // 1: ground-water table within the upper 100 cm
    std::uint8_t Permafr = 0;  // 1: permafrost present
    std::uint8_t Fortype = 0;  // TForestType
};

// Derived from the site parameters and the climatology at the start of every
// run. Storages are mm of water above the wilting point over the forest floor
// plus 1 m of mineral soil.
struct TSiteConstants {
    double H_ff = 0;   // m, forest-floor thickness
    double S_WP = 0;   // mm held at wilting point
    double S_FC = 0;   // mm available at field capacity
    double S_Sat = 0;  // mm available at saturation; upper bound of the storage
    double S_0 = 0;    // mm available at the start of the run
    double S_lim = 0;  // mm, storage limit of the runoff term
    MonthArray S_crit{};        // mm, above it evapotranspiration is potential (1..12)
    MonthArray ForestOffset{};  // degC, soil-temperature offset of the forest type (1..12)
    // Share of the year's daylight hours falling in each month at the site's
    // latitude (1..12). It depends on the latitude only, so the run computes
    // it once instead of in every monthly evapotranspiration call.
    MonthArray DaylightShare{};
};

// The monthly climatology, months 1..12.
struct TClimatology {
    MonthArray av_Ta{};    // degC, mean air temperature; slot 0 = December
    MonthArray std_Ta{};   // degC, standard deviation of air temperature
    MonthArray av_P{};     // mm, mean precipitation
    MonthArray Cv_P{};     // coefficient of variation of precipitation
    MonthArray av_Ts{};    // degC, mean soil temperature at 0.2 m under grass; slot 0 = December
    MonthArray std_Ts{};   // degC, its standard deviation
    MonthArray Baa{};      // degC/degC, weight of the previous month's air-temperature anomaly
    MonthArray Bap{};      // degC per ln mm, weight of the precipitation anomaly in log space
    MonthArray Sa{};       // degC, residual deviation of air temperature
    MonthArray Bss{};      // degC/degC, weight of the previous month's soil-temperature anomaly
    MonthArray Bsa{};      // degC/degC, weight of the month's air-temperature anomaly
    MonthArray Ss{};       // degC, residual deviation of soil temperature
    MonthArray mu_P{};     // ln mm, location of the lognormal monthly precipitation
    MonthArray sigma_P{};  // scale of the lognormal monthly precipitation
};

// Year-by-month series of the observed weather, indexed by year index
// 1..MAX_YEARS (row 0 unused) and month 1..12 (column 0 unused).
using YearMonthSeries = std::array<std::array<double, 13>, MAX_YEARS + 1>;

struct TWeatherStore {
    YearMonthSeries Tair{};   // degC, monthly mean air temperature
    YearMonthSeries Prec{};   // mm, monthly precipitation
    YearMonthSeries Tsoil{};  // degC, soil temperature at 0.2 m under grass

    // Marks every month of all three series as not available.
    void FillMissing();
};

// Working arrays of the year being simulated.
struct TYearWork {
    MonthArray Tair{};      // degC; slot 0 = December of the previous year
    MonthArray Tsoil{};     // degC; slot 0 = December of the previous year
    MonthArray Prec{};      // mm
    MonthArray T_ms{};      // degC, mineral soil under the forest
    MonthArray T_ff{};      // degC, forest floor
    MonthArray PET{};       // mm, potential evapotranspiration
    MonthArray ET{};        // mm, actual evapotranspiration
    MonthArray S_start{};   // mm, storage at the start of the month
    MonthArray S_end{};     // mm, storage at the end; slot 12 carries into the next year
    MonthArray S_mean{};    // mm, mean of start and end storage
    MonthArray W_ms_vol{};  // vol.%
    MonthArray W_ff_vol{};  // vol.%
    MonthArray W_ms_mass{}; // mass %
    MonthArray W_ff_mass{}; // mass %
    double SnowStore = 0;   // mm of water held as snow; no lower bound
    double WaterInput = 0;  // mm reaching the soil in the month being balanced
    double DryRatio = 0;    // 1 - PET / WaterInput
    double RunoffCoef = 0;  // share of the input that runs off at the storage limit
};

// One month (slots 1..12) or the annual values (slot 0) of one year.
struct TResultRecord {
    std::int32_t Year = 0;   // calendar year; 0 in the annual slot
    std::int32_t Month = 0;  // 1..12; 0 in the annual slot
    double Tair = 0;         // degC; annual: mean
    double T_ff = 0;         // degC; annual: mean
    double Tsoil = 0;        // degC, under grass; annual: mean
    double T_ms = 0;         // degC; annual: mean
    double Prec = 0;         // mm; annual: sum of the twelve months
    double W_ms_vol = 0;     // vol.%; annual: mean
    double W_ff_vol = 0;     // vol.%; annual: mean
    double W_ms_mass = 0;    // mass %; annual: mean
    double W_ff_mass = 0;    // mass %; annual: mean
};

// Results by year index 1..MAX_YEARS (row 0 unused) and slot 0..12.
struct TResultsTable {
    std::array<std::array<TResultRecord, 13>, MAX_YEARS + 1> Records{};

    TResultRecord& At(int yearIndex, int slot) { return Records[yearIndex][slot]; }
    const TResultRecord& At(int yearIndex, int slot) const { return Records[yearIndex][slot]; }
    // Sets every field of every record to zero.
    void Clear();
};

// The run settings: what the run reads. (The years released for display
// and the step size are the application's: app/session.h.)
struct TRunSettings {
    bool InpDat = false;        // true: weather from file; false: simulated weather
    std::int32_t YearBeg = 0;   // first calendar year of the run
    std::int32_t YearEnd = 0;   // last calendar year of the run
    // A scenario's linear change over a simulated run (model/scenario.h),
    // applied to the climatology year by year; an observed record gets it
    // in its values instead.
    double TrendT = 0;     // degC per 100 years
    double TrendPrec = 0;  // % per 100 years
    // Simulated weather: the calendar year of the run's first year and the
    // years it runs (1..MAX_YEARS, the first of the generator's draws, so a
    // shorter run is the start of the longer one). Weather from file keeps
    // the record's years and ignores them.
    std::int32_t SimulatedYearBeg = 1;
    std::int32_t SimulatedYears = MAX_YEARS;
};

// Everything one simulation works on. One instance lives as long as the
// program (or the test) that owns it; all records start at zero.
struct TModel {
    TSiteParams Site;
    TSiteConstants Constants;
    TClimatology Climate;
    TWeatherStore Weather;
    TYearWork Work;
    TResultsTable Results;
    std::int32_t AvailableYears = 0;  // consecutive years from index 1 with a January record
    TRunSettings Settings;
    RandomSource Random;  // seeded from a clock when the model is made
};

}  // namespace kelmar
