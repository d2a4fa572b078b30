// Feeds arbitrary bytes to the batch's scenario list reader, then runs 500
// simulated years of the example site and climatology under its last
// scenario, as the batch runs a site under each. A refused list or run
// (KelmarError) is a fine outcome; a crash, a sanitizer report, a hang, a
// name the list check let through that holds a control character, or an
// output that is not a finite number is not.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/batch/scenario_list.h"
#include "app/run_sequence.h"
#include "whole_path.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kelmar;
    static TModel* const model = new TModel();  // large; made once and reused
    batch::ScenarioList list;
    try {
        list = batch::ParseScenarioList(std::string(reinterpret_cast<const char*>(data), size), "fuzz.csv");
    } catch (const KelmarError&) {
        return 0;
    }
    for (const TScenario& scenario : list.Scenarios)
        for (const char c : scenario.Name)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                std::fprintf(stderr, "the scenario name \"%s\" holds a control character\n", scenario.Name.c_str());
                std::abort();
            }
    fuzz::LoadExampleSite(*model);
    fuzz::LoadExampleClimatology(*model);
    model->Settings = TRunSettings{};  // simulated weather
    model->Results.Clear();
    fuzz::QuietNotifier notifier;
    try {
        RunUnderScenario(*model, notifier, &list.Scenarios.back());
    } catch (const KelmarError&) {
    }
    fuzz::RequireFiniteOutputs(*model);
    return 0;
}
