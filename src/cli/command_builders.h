// The commands of kelmar-cli, each with the builder that declares its line.
#pragma once

#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/command_line.h"

namespace kelmar::cli {

struct CommandEntry {
    const char* name;
    Command command;
    const char* purpose;             // its line in `kelmar-cli --help`
    std::vector<std::string> usage;  // its forms, after "kelmar-cli "
    void (*build)(CommandLine& line);  // declares its options, their validators and checks
};

// Every command, in the order the help lists them.
const std::vector<CommandEntry>& Commands();

}  // namespace kelmar::cli
