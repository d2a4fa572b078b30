// The climate scenario of one run as a user asks for it: a scenario file,
// or a temperature change and a precipitation factor typed in (the command
// line's --delta-t and --precip-factor, the window's two boxes). Built here
// once for the window, the command-line tool and Python.
#pragma once

#include <optional>
#include <string>

#include "model/scenario.h"

namespace kelmar {

struct ScenarioRequest {
    std::string File;                       // a scenario file; empty: none
    std::optional<double> DeltaT;           // degC added to the air temperature, every month
    std::optional<double> PrecFactor;       // ratio multiplying precipitation, every month
    // How the two values were given (the window's boxes), to name them when
    // refused; empty: refused as the scenario's month 1, as a scenario file's
    // value is (the command line's and Python's text, which agree).
    std::string DeltaTName;
    std::string PrecFactorName;
};

// The scenario asked for; nothing when nothing is asked. A file takes
// precedence (the command line refuses both together). Raises KelmarError
// for a file that cannot be read or is not a scenario, and for a value
// beyond the bounds of ValidateScenario (checked over one year: the trend
// and the weather are judged when the run starts).
std::optional<TScenario> MakeScenario(const ScenarioRequest& request);

// A box's text as a scenario value: nothing when blank, the number
// otherwise; KelmarError "... in the scenario's <what>" when it is not one.
std::optional<double> ScenarioValueOfText(const std::string& text, const char* what);

}  // namespace kelmar
