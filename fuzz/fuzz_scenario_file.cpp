// Feeds arbitrary bytes to the scenario file reader, then runs 500 simulated
// years of the example site and climatology under the scenario read, as
// `simulate --scenario` does. A refused file, scenario or run (KelmarError)
// is a fine outcome; a crash, a sanitizer report, a hang, or an output that
// is not a finite number is not, and neither is a climatology that the run
// does not give back as it was.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "app/run_sequence.h"
#include "io/scenario_file.h"
#include "whole_path.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kelmar;
    static TModel* const model = new TModel();  // large; made once and reused
    TScenario scenario;
    try {
        scenario = ParseScenarioText(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.scn");
    } catch (const KelmarError&) {
        return 0;
    }
    fuzz::LoadExampleSite(*model);
    fuzz::LoadExampleClimatology(*model);
    model->Settings = TRunSettings{};  // simulated weather
    model->Results.Clear();
    const TClimatology before = model->Climate;
    fuzz::QuietNotifier notifier;
    try {
        RunUnderScenario(*model, notifier, &scenario);
    } catch (const KelmarError&) {
    }
    fuzz::RequireFiniteOutputs(*model);
    for (int k = 1; k <= 12; ++k)
        if (model->Climate.av_P[k] != before.av_P[k] || model->Climate.Cv_P[k] != before.Cv_P[k]) {
            std::fprintf(stderr, "the climatology was not given back (month %d)\n", k);
            std::abort();
        }
    return 0;
}
