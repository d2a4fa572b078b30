// The scenario file: "key = value" lines, "#" starting a comment, in UTF-8.
//
//     # warmer and drier, as a change against the climatology's years
//     name = warm-dry
//     delta_t = 2.5                    # degC added; one value, or twelve (January first)
//     precip_factor = 0.9              # ratio; one value, or twelve
//     variability = 1.1                # optional; sd of temperature, CV of precipitation
//     trend_t = 3                      # optional; degC per 100 years over the run
//     trend_precip = -10               # optional; % per 100 years over the run
//
// A key left out changes nothing; the name defaults to the file's name
// without its extension.
#pragma once

#include <string>
#include <string_view>

#include "model/scenario.h"

namespace kelmar {

inline constexpr const char* SCENARIO_NOT_FOUND_MESSAGE = "Scenario file (%s) not found.";

// Reads the scenario file `fileName`. A missing file, an unknown or
// repeated key, a value that does not convert or a count of values other
// than 1 or 12 raises KelmarError naming the file and the line; the values
// themselves are checked when the scenario is applied (ValidateScenario).
TScenario ReadScenarioFile(const std::string& fileName);

// The same for the text of a scenario file; `fileName` names it in messages
// and gives the default name.
TScenario ParseScenarioText(std::string_view text, std::string_view fileName);

}  // namespace kelmar
