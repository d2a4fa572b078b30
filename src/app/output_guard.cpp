#include "app/output_guard.h"

#include "io/data_file_names.h"
#include "io/file_output.h"
#include "io/weather_file.h"

namespace kelmar {

std::string NameRead(const CommandInput& input) {
    switch (input.naming) {
        case InputNaming::Site:
            return SiteFileName(input.name);
        case InputNaming::Climatology:
            return ReplaceExtension(input.name, CLIMATOLOGY_EXTENSION);
        case InputNaming::Weather:
            return WeatherFileName(input.name);
        case InputNaming::Exact:
            break;
    }
    return input.name;
}

std::optional<std::string> OutputOverInput(const std::vector<CommandInput>& inputs,
                                           const std::vector<CommandOutput>& outputs) {
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const CommandOutput& output = outputs[i];
        for (const CommandInput& input : inputs) {
            const std::string read = NameRead(input);
            if (SameFile(output.name, read))
                return output.option + " '" + output.name + "' would overwrite the file " + input.option +
                       " reads, '" + read + "'";
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (!SameFile(output.name, outputs[j].name)) continue;
            const std::string both =
                outputs[j].option + " '" + outputs[j].name + "' and " + output.option + " '" + output.name + "'";
            return both + (IsStandardOutput(output.name) ? " both write to standard output" : " are the same file");
        }
    }
    return std::nullopt;
}

bool IsStandardOutput(const std::string& name) { return name == STANDARD_OUTPUT_NAME; }

}  // namespace kelmar
