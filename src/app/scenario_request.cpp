#include "app/scenario_request.h"

#include "io/number_text.h"
#include "io/read_errors.h"
#include "io/scenario_file.h"

namespace kelmar {

std::optional<TScenario> MakeScenario(const ScenarioRequest& request) {
    if (!request.File.empty()) return ReadScenarioFile(request.File);
    if (!request.DeltaT && !request.PrecFactor) return std::nullopt;
    TScenario scenario;
    if (request.DeltaT) scenario.DeltaT.fill(*request.DeltaT);
    if (request.PrecFactor) scenario.PrecFactor.fill(*request.PrecFactor);
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
