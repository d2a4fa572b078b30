// The results file (.csv): a header line, then per month of the years shown
// the running month number and the forest-floor and mineral-soil temperature
// and moisture, in fixed-width comma-separated fields.
#pragma once

#include <string>

#include "model/model_state.h"

namespace kelmar {

inline constexpr const char* RESULTS_HEADER_LINE = "Step, Tlit,  Tsoil,  Mlit,  Msoil";

// Writes the twelve months of the leading years 1..yearCount whose January
// record is present to the file named exactly `fileName`. With no such year
// nothing happens: no file is created or changed.
void WriteResultsFile(const std::string& fileName, const TResultsTable& results, int yearCount);

// The bytes WriteResultsFile writes; empty when there is no year to write.
std::string FormatResultsFile(const TResultsTable& results, int yearCount);

}  // namespace kelmar
