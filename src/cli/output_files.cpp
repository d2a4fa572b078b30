#include "cli/output_files.h"

#include <string>
#include <vector>

#include "app/command_paths.h"
#include "app/output_guard.h"

namespace kelmar::cli {

namespace {

std::vector<CommandInput> Inputs(const CliOptions& options) {
    std::vector<CommandInput> inputs;
    if (!options.site.empty()) inputs.push_back({"--site", options.site, InputNaming::Site});
    if (!options.climate.empty()) inputs.push_back({"--climate", options.climate, InputNaming::Climatology});
    if (!options.weather.empty()) inputs.push_back({"--weather", options.weather, InputNaming::Weather});
    if (!options.scenario.empty()) inputs.push_back({"--scenario", options.scenario, InputNaming::Exact});
    for (const std::string& grid : options.grids) inputs.push_back({"--grid", grid, InputNaming::Exact});
    if (options.command == Command::Extract) inputs.push_back({"--sites", options.sites, InputNaming::Exact});
    return inputs;
}

std::vector<CommandOutput> Outputs(const CliOptions& options) {
    std::vector<CommandOutput> outputs;
    if (!options.results.empty()) outputs.push_back({"--results", options.results});
    if (!options.table.empty()) outputs.push_back({"--table", options.table});
    if (!options.output.empty()) outputs.push_back({"--output", options.output});
    if (options.command == Command::Extract) {
        outputs.push_back({"--out", options.out});
        if (!options.cells.empty()) outputs.push_back({"--cells", options.cells});
    }
    if (options.command == Command::Map) outputs.push_back({"--out", options.out});
    if (options.command == Command::Check)
        for (const char* name : {"check.csv", "check.png", "check.svg"})
            outputs.push_back({"--out", FileInFolder(options.out, name)});
    return outputs;
}

}  // namespace

void RefuseOutputsOverInputs(const CliOptions& options) {
    if (const auto fault = OutputOverInput(Inputs(options), Outputs(options)))
        throw UsageError(*fault, CommandName(options.command));
}

bool WritesToStandardOutput(const CliOptions& options) {
    for (const CommandOutput& output : Outputs(options))
        if (IsStandardOutput(output.name)) return true;
    return false;
}

}  // namespace kelmar::cli
