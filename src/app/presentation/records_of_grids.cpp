#include "app/presentation/records_of_grids.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "app/presentation/grid_texts.h"
#include "io/number_text.h"
#include "io/value_text.h"
#include "model/errors.h"
#include "model/record_fields.h"

namespace kelmar {

namespace {

// A flag cell's number rounded to the nearest integer (ties to even) and
// kept within what the flag can hold.
std::uint8_t FlagValue(double number) {
    const double rounded = std::nearbyint(number);
    return static_cast<std::uint8_t>(std::clamp(rounded, 0.0, double(std::numeric_limits<std::uint8_t>::max())));
}

// A cell's number as the file readers convert it; a conversion error gets a
// second line saying where the cell is.
void CheckNumber(const std::string& text, const std::string& where) {
    try {
        ParseReal(text);
    } catch (const KelmarError& error) {
        throw KelmarError(std::string(error.what()) + "\n" + where);
    }
}

}  // namespace

TSiteParams SiteOfGrid(const TextGrid& siteGrid) {
    TSiteParams site;
    for (int r = 0; r < SITE_GRID_ROWS; ++r) {
        const SiteField& field = SITE_FIELDS[r];
        const double number = ParseValueLenient(siteGrid.CellOrEmpty(SITE_VALUE_COLUMN, r));
        if (field.Kind == FieldKind::Real)
            site.*field.Real = number;
        else
            site.*field.Flag = FlagValue(number);
    }
    return site;
}

void CheckSiteGridNumbers(const TextGrid& siteGrid) {
    for (int r = 0; r < SITE_GRID_ROWS; ++r)
        if (SITE_FIELDS[r].Kind == FieldKind::Real)
            CheckNumber(siteGrid.CellOrEmpty(SITE_VALUE_COLUMN, r),
                        "Site parameters, row \"" + siteGrid.CellOrEmpty(0, r) + "\"");
}

void CheckClimatologyGridNumbers(const TextGrid& climateGrid) {
    for (int m = 1; m <= 12; ++m)
        for (int c = 1; c < CLIMATE_GRID_SIZE; ++c)
            CheckNumber(climateGrid.CellOrEmpty(c, m), "Climatology, row \"" + climateGrid.CellOrEmpty(0, m) +
                                                           "\", column \"" + climateGrid.CellOrEmpty(c, 0) + "\"");
}

}  // namespace kelmar
