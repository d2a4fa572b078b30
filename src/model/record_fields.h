// One table per record: every field of the site parameters, of the
// climatology and of a results record, in the order the files, the grids and
// the tables show them. Readers, writers, grid texts and new formats iterate
// these tables, so a field is added or moved here and nowhere else.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "model/model_state.h"

namespace kelmar {

// How a site parameter is stored: a real number, or a flag that keeps the
// low eight bits of an integer.
enum class FieldKind { Real, Flag };

struct SiteField {
    const char* Key;    // the key of its data line in the site file
    const char* Label;  // its row label in the site grid, UTF-8
    FieldKind Kind;
    double TSiteParams::*Real;         // set when Kind is Real
    std::uint8_t TSiteParams::*Flag;   // set when Kind is Flag
    const char* Unit;     // "1" for a ratio; empty for a flag or a code
    const char* Comment;  // the comment line after its data line, Windows-1251 bytes
};

inline constexpr SiteField RealSite(const char* key, const char* label, double TSiteParams::*member,
                                    const char* unit, const char* comment) {
    return {key, label, FieldKind::Real, member, nullptr, unit, comment};
}
inline constexpr SiteField FlagSite(const char* key, const char* label, std::uint8_t TSiteParams::*member,
                                    const char* comment) {
    return {key, label, FieldKind::Flag, nullptr, member, "", comment};
}

// The fifteen site parameters in site-file and site-grid order.
inline constexpr std::array<SiteField, 15> SITE_FIELDS = {
    RealSite("Lat", "Lat, deg.", &TSiteParams::Lat, "degrees_north", "# Latitude, deg."),
    RealSite("M_ff", "M_ff, kg/m\u00b2", &TSiteParams::M_ff, "kg m-2", "# organic layer mass per area [kg/m^2]"),
    RealSite("D_ff", "D_ff, g/cm\u00b3", &TSiteParams::D_ff, "g cm-3",
             "# organic layer bulk density, g/cm^3 = 10^3 kg/m^3"),
    RealSite("W_WP_ff", "W_WP_ff, vol.%", &TSiteParams::W_WP_ff, "vol_pct",
             "# organic layer moisture (% vol) at permanent wilting point"),
    RealSite("W_FC_ff", "W_FC_ff, vol.%", &TSiteParams::W_FC_ff, "vol_pct",
             "# organic layer moisture (% vol) at field capasity"),
    RealSite("W_Sat_ff", "W_SAT_ff, vol.%", &TSiteParams::W_Sat_ff, "vol_pct",
             "# organic layer moisture (% vol) at saturation conditions"),
    // The file's comment says g/m^3; the value is g/cm^3, as for D_ff.
    RealSite("D_ms", "D_ms, g/cm\u00b3", &TSiteParams::D_ms, "g cm-3", "# mineral soil bulk density [g/m^3]"),
    RealSite("W_WP_ms", "W_WP_ms, vol.%", &TSiteParams::W_WP_ms, "vol_pct",
             "# mineral soil moisture at permanent wilting point [vol.%]"),
    // The "c" of "capacity" is the Cyrillic es, byte 0xF1, as the file has always had it.
    RealSite("W_FC_ms", "W_FC_ms, vol.%", &TSiteParams::W_FC_ms, "vol_pct",
             "# mineral soil moisture at field capa\xF1" "ity [vol.%]"),
    RealSite("W_Sat_ms", "W_SAT_ms, vol.%", &TSiteParams::W_Sat_ms, "vol_pct",
             "# mineral soil moisture at full saturation [vol.%]"),
    RealSite("Wv0_ms", "Wv0_ms, vol.%", &TSiteParams::Wv0_ms, "vol_pct",
             "# Initial value of mineral soil moisture [vol.%]"),
    RealSite("Corr", "Corr", &TSiteParams::Corr, "1",
             "# correction factor for calculation Litter moisture, vol.%, from mineral soil moisture, vol.%"),
    FlagSite("Saturat", "saturat", &TSiteParams::Saturat,
             "# presence of ground water table in the 100 cm layer: 1 - yes, 0 - no"),
    FlagSite("Permafr", "permafr", &TSiteParams::Permafr, "# presence of Permafrost 1 - yes, 0 - no"),
    FlagSite("Fortype", "fortype", &TSiteParams::Fortype,
             "# forest type: 1-spruce, 2-pine, 3-birch, 4-oak, 0-non-defined (some average parameters used)"),
};
inline constexpr int SITE_FIELD_COUNT = static_cast<int>(SITE_FIELDS.size());

// The position of a site parameter in SITE_FIELDS (its site-file data line
// and its site-grid row), by its key; -1 for an unknown key.
constexpr int SiteFieldIndex(std::string_view key) {
    for (int i = 0; i < SITE_FIELD_COUNT; ++i)
        if (key == SITE_FIELDS[i].Key) return i;
    return -1;
}

struct ClimateField {
    const char* Key;    // the key of its data line in the climatology file
    const char* Label;  // its column header in the climatology grid, UTF-8
    MonthArray TClimatology::*Values;
    const char* Unit;      // "1" for a ratio
    const char* LongName;  // what it is, for messages
    const char* Comment;   // the comment line after its data line, Windows-1251 bytes
};

// The comment of the four regression coefficients ends with an ellipsis, the
// Windows-1251 byte 0x85.
inline constexpr const char* REGRESSION_COMMENT = "# regression coefficient\x85";

// The twelve monthly variables of the climatology file, in file order and
// grid-column order (column 1 = av_Ta). mu_P and sigma_P are derived, not stored.
inline constexpr std::array<ClimateField, 12> CLIMATE_FIELDS = {{
    {"av_Ta", "av_Ta, \u00b0C", &TClimatology::av_Ta, "degC", "mean air temperature", "# Average air temperature, deg.C"},
    {"std_Ta", "std_Ta, \u00b0C", &TClimatology::std_Ta, "degC", "standard deviation of air temperature", "# Standard deviation of air temperature, deg.C"},
    {"av_P", "av_P, mm", &TClimatology::av_P, "mm", "mean precipitation", "# Average precipitation"},
    {"Cv_P", "Cv_P", &TClimatology::Cv_P, "1", "coefficient of variation of precipitation", "# Coefficient of variation of monthly precipitation"},
    {"av_Ts", "av_Ts, \u00b0C", &TClimatology::av_Ts, "degC", "mean soil temperature",
     "# Average soil temperature at 0.2 m depth under grass, deg.C"},
    {"std_Ts", "std_Ts, \u00b0C", &TClimatology::std_Ts, "degC", "standard deviation of soil temperature",
     "#Standard deviation of soil temperature at 0.2 m depth under grass, deg.C"},
    {"Baa", "Baa", &TClimatology::Baa, "1", "regression coefficient", REGRESSION_COMMENT},
    {"Bap", "Bap", &TClimatology::Bap, "degC", "regression coefficient", REGRESSION_COMMENT},  // degC per unit of ln mm
    {"Sa", "Sa, \u00b0C", &TClimatology::Sa, "degC", "residual deviation of air temperature", "# residual deviation of air temperature, deg.C"},
    {"Bss", "Bss", &TClimatology::Bss, "1", "regression coefficient", REGRESSION_COMMENT},
    {"Bsa", "Bsa", &TClimatology::Bsa, "1", "regression coefficient", REGRESSION_COMMENT},
    {"Ss", "Ss, \u00b0C", &TClimatology::Ss, "degC", "residual deviation of soil temperature", "# residual deviation of soil temperature, deg.C"},
}};
inline constexpr int CLIMATE_FIELD_COUNT = static_cast<int>(CLIMATE_FIELDS.size());

// How the annual record (slot 0) is formed from the twelve months.
enum class AnnualForm { Mean, Sum };

struct ResultField {
    const char* Name;          // the member's name and its column in the full table
    const char* Key;           // a lower-case column key for new formats
    double TResultRecord::*Value;
    MonthArray TYearWork::*Month;  // the working array of the simulated year it is taken from
    const char* Unit;          // degC, mm, vol_pct (volume per cent), mass_pct (mass per cent)
    const char* LongName;
    AnnualForm Annual;
    // The CF standard name where one fits (empty otherwise) and the CF units
    // of the value as it is: a millimetre of water is 1 kg m-2.
    const char* StandardName;
    const char* CfUnits;
};

// The values of a results record in the order of the full table.
inline constexpr std::array<ResultField, 9> RESULT_FIELDS = {{
    {"Tair", "tair", &TResultRecord::Tair, &TYearWork::Tair, "degC", "air temperature", AnnualForm::Mean,
     "air_temperature", "degC"},
    // The forest floor is litter and humus above the mineral soil; CF names no temperature of it.
    {"T_ff", "t_ff", &TResultRecord::T_ff, &TYearWork::T_ff, "degC", "forest-floor temperature", AnnualForm::Mean,
     "", "degC"},
    {"Tsoil", "tsoil", &TResultRecord::Tsoil, &TYearWork::Tsoil, "degC",
     "soil temperature at 0.2 m depth under grass", AnnualForm::Mean, "soil_temperature", "degC"},
    {"T_ms", "t_ms", &TResultRecord::T_ms, &TYearWork::T_ms, "degC", "mineral-soil temperature under the forest",
     AnnualForm::Mean, "soil_temperature", "degC"},
    {"Prec", "prec", &TResultRecord::Prec, &TYearWork::Prec, "mm", "precipitation", AnnualForm::Sum,
     "precipitation_amount", "kg m-2"},
    {"W_ms_vol", "w_ms_vol", &TResultRecord::W_ms_vol, &TYearWork::W_ms_vol, "vol_pct",
     "mineral-soil moisture by volume", AnnualForm::Mean, "volume_fraction_of_condensed_water_in_soil", "%"},
    {"W_ff_vol", "w_ff_vol", &TResultRecord::W_ff_vol, &TYearWork::W_ff_vol, "vol_pct",
     "forest-floor moisture by volume", AnnualForm::Mean, "", "%"},
    {"W_ms_mass", "w_ms_mass", &TResultRecord::W_ms_mass, &TYearWork::W_ms_mass, "mass_pct",
     "mineral-soil moisture by mass", AnnualForm::Mean, "", "%"},
    {"W_ff_mass", "w_ff_mass", &TResultRecord::W_ff_mass, &TYearWork::W_ff_mass, "mass_pct",
     "forest-floor moisture by mass", AnnualForm::Mean, "", "%"},
}};

}  // namespace kelmar
