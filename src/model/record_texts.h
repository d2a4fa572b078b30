// The value texts of the records, in the order of their fields: what the
// window's grids show and edit, and what the file writers write as given.
// Plain text, no file: the presentation makes them, the writers take them.
#pragma once

#include <array>
#include <string>

#include "model/record_fields.h"

namespace kelmar {

// The value text of each site parameter, UTF-8, in SITE_FIELDS order.
using SiteTexts = std::array<std::string, SITE_FIELD_COUNT>;

// The value texts of a climatology, UTF-8: [variable in CLIMATE_FIELDS
// order][month - 1].
using ClimatologyTexts = std::array<std::array<std::string, 12>, CLIMATE_FIELD_COUNT>;

// The texts of one month of a weather record, UTF-8, in the order of the
// weather file's columns: Year, Month, Tair, Prec, Tsoil.
struct WeatherRowTexts {
    std::string Year;
    std::string Month;
    std::string Tair;   // degC
    std::string Prec;   // mm
    std::string Tsoil;  // degC
};

}  // namespace kelmar
