#include "app/scenario_request.h"

#include "io/number_text.h"
#include "io/read_errors.h"
#include "io/scenario_file.h"

namespace kelmar {

std::optional<TScenario> MakeScenario(const ScenarioRequest& request) {
    TScenario scenario;
    if (!request.File.empty()) {
        scenario = ReadScenarioFile(request.File);
    } else {
        if (!request.DeltaT && !request.PrecFactor) return std::nullopt;
        // One value each, named as given rather than as month 1 of twelve.
        if (request.DeltaT && !request.DeltaTName.empty()) ValidateChangeValue(*request.DeltaT, request.DeltaTName);
        if (request.PrecFactor && !request.PrecFactorName.empty())
            ValidateFactorValue(*request.PrecFactor, request.PrecFactorName);
        if (request.DeltaT) scenario.DeltaT.fill(*request.DeltaT);
        if (request.PrecFactor) scenario.PrecFactor.fill(*request.PrecFactor);
    }
    // The values no run could take, before any file is chosen or read; the
    // trend over the run's years and a variability factor against observed
    // weather are checked again when the run starts, once those are known.
    ValidateScenario(scenario, false, 1);
    return scenario;
}

std::optional<double> ScenarioValueOfText(const std::string& text, const char* what) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::nullopt;
    const std::string trimmed = text.substr(first, text.find_last_not_of(" \t") - first + 1);
    return WithErrorLocation([what] { return std::string("in the scenario's ") + what; },
                             [&trimmed] { return ParseReal(trimmed); });
}

}  // namespace kelmar
