// The refusal to let a command's output replace a file the same command
// reads, or another of its outputs, checked before anything is read or run.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kelmar {

// How the reader of an input turns the name it is given into the file it
// opens (io/data_file_names.h, io/weather_file.h).
enum class InputNaming {
    Exact,        // read as given (a scenario file)
    Site,         // ".sit" appended to a name without a full stop
    Climatology,  // the extension replaced by ".cld"
    Weather,      // as the weather reader names it (".wed", or a tidy .csv)
};

struct CommandInput {
    std::string option;  // "--site", for the message
    std::string name;    // as given
    InputNaming naming = InputNaming::Exact;
};

// Writers use the name they are given exactly; "-" is standard output.
struct CommandOutput {
    std::string option;
    std::string name;
};

// The name of the file the reader opens for `input`.
std::string NameRead(const CommandInput& input);

// Why an output would replace an input (under the name its reader opens) or
// be another output, links and differently written paths included; nothing
// when every output is a file of its own. Two outputs of "-" both write to
// standard output.
std::optional<std::string> OutputOverInput(const std::vector<CommandInput>& inputs,
                                           const std::vector<CommandOutput>& outputs);

// Whether `name` stands for standard output rather than a file.
bool IsStandardOutput(const std::string& name);

}  // namespace kelmar
