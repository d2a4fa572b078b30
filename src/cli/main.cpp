// kelmar-cli: the simulation without the window, for scripts and batches.
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/cli_options.h"

int main(int argc, char** argv) {
    using namespace kelmar::cli;
    CliOptions options;
    try {
        options = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& e) {
        std::cerr << "kelmar-cli: " << e.what() << "\n\n" << USAGE;
        return EXIT_USAGE;
    }
    switch (options.command) {
        case Command::Simulate:
            return RunSimulate(options, std::cout, std::cerr);
        case Command::Estimate:
            return RunEstimate(options, std::cout, std::cerr);
        case Command::Help:
            break;
    }
    std::cout << USAGE;
    return EXIT_OK;
}
