#include "cli/output_files.h"

#include <string>
#include <vector>

#include "io/data_file_names.h"
#include "io/file_bytes.h"
#include "io/file_output.h"
#include "io/weather_file.h"

namespace kelmar::cli {

namespace {

struct NamedFile {
    const char* option;
    std::string name;  // as the command reads or writes it
};

std::vector<NamedFile> Inputs(const CliOptions& options) {
    std::vector<NamedFile> inputs;
    if (!options.site.empty()) inputs.push_back({"--site", SiteFileName(options.site)});
    if (!options.climate.empty())
        inputs.push_back({"--climate", ReplaceExtension(options.climate, CLIMATOLOGY_EXTENSION)});
    if (!options.weather.empty()) inputs.push_back({"--weather", WeatherFileName(options.weather)});
    if (!options.scenario.empty()) inputs.push_back({"--scenario", options.scenario});
    return inputs;
}

// The writers use the names they are given exactly.
std::vector<NamedFile> Outputs(const CliOptions& options) {
    std::vector<NamedFile> outputs;
    if (!options.results.empty()) outputs.push_back({"--results", options.results});
    if (!options.table.empty()) outputs.push_back({"--table", options.table});
    if (!options.output.empty()) outputs.push_back({"--output", options.output});
    if (options.command == Command::Check)
        for (const char* name : {"check.csv", "check.png", "check.svg"})
            outputs.push_back({"--out", Utf8Name(PathOf(options.out) / name)});
    return outputs;
}

}  // namespace

void RefuseOutputsOverInputs(const CliOptions& options) {
    const std::vector<NamedFile> inputs = Inputs(options), outputs = Outputs(options);
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const NamedFile& output = outputs[i];
        for (const NamedFile& input : inputs)
            if (SameFile(output.name, input.name))
                throw UsageError(std::string(output.option) + " '" + output.name + "' would overwrite the file " +
                                 input.option + " reads, '" + input.name + "'");
        for (std::size_t j = 0; j < i; ++j) {
            if (!SameFile(output.name, outputs[j].name)) continue;
            const std::string both = std::string(outputs[j].option) + " '" + outputs[j].name + "' and " +
                                     output.option + " '" + output.name + "'";
            throw UsageError(both + (output.name == STANDARD_OUTPUT_NAME ? " both write to standard output"
                                                                          : " are the same file"));
        }
    }
}

bool WritesToStandardOutput(const CliOptions& options) {
    for (const NamedFile& output : Outputs(options))
        if (output.name == STANDARD_OUTPUT_NAME) return true;
    return false;
}

}  // namespace kelmar::cli
