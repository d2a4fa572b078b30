// kelmar-cli: the simulation without the window, for scripts and batches.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include <sys/ioctl.h>
#include <unistd.h>
#ifdef KELMAR_CHECK_FIGURE_MODULE
#endif

#include "cli/cli_commands.h"
#include "cli/cli_options.h"
#include "cli/help_format.h"
#include "cli/output_files.h"
#include "io/program_module.h"

namespace {

// `status`, or a failure when what went to standard output did not all
// arrive (a full disk, a closed pipe): a report or a help text that was
// lost is no success.
int DeliverStandardOutput(int status) {
    using namespace kelmar::cli;
    // A text longer than the stream's buffer was partly written already: the
    // reason of that failure is the one to name.
    const int earlier = std::ferror(stdout) ? errno : 0;
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    const int error = errno != 0 ? errno : earlier;
    if (flushed && !std::ferror(stdout) && std::cout.flush()) return status;
    std::cerr << "kelmar-cli: cannot write the standard output ("
              << std::generic_category().message(error != 0 ? error : EIO) << ")\n";
    return status == EXIT_OK ? EXIT_FAILED : status;
}

// The figure writer of `check`, from the module built with the window's
// libraries, or none and the reason why.
struct CheckFigure {
    std::unique_ptr<kelmar::CheckFigureWriter> writer;
    std::string missing;  // why there is no writer; empty: a build without the window
};

// The columns of the terminal standard output goes to; nothing for a pipe or a file.
std::optional<int> TerminalColumns() {
    winsize size{};
    if (::isatty(STDOUT_FILENO) == 0 || ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0)
        return std::nullopt;
    return size.ws_col;
}

#ifdef KELMAR_CHECK_FIGURE_MODULE
// The module is looked for beside the program's real location (links
// resolved by /proc/self/exe), never on the library search path: first in
// the private library folder of an installed program (bin/../lib/kelmar,
// KELMAR_CHECK_FIGURE_DIR), then in the program's own folder, where the
// build tree has it. So a copied or moved installation finds its own
// module, and no other.
CheckFigure LoadCheckFigure() {
    const std::string name = KELMAR_CHECK_FIGURE_MODULE;
    const kelmar::ProgramModule module =
        kelmar::LoadProgramModule(name, KELMAR_CHECK_FIGURE_DIR, "kelmar_new_check_figure_writer");
    if (!module.Unknown.empty())
        return {nullptr, "the program's own location, where the figure module " + name + " is looked for, is unknown (" +
                             module.Unknown + ")"};
    using Factory = kelmar::CheckFigureWriter* (*)();
    if (module.Symbol) return {std::unique_ptr<kelmar::CheckFigureWriter>(reinterpret_cast<Factory>(module.Symbol)()), ""};
    return {nullptr, "no figure module " + name + " could be loaded; kelmar-cli looked for it in" + module.Tried};
}
#else
CheckFigure LoadCheckFigure() { return {}; }
#endif

// The map writer of `map`, from the module built with the window's
// libraries (kelmar-region-map), looked for as the figure module of check.
struct MapWriter {
    std::unique_ptr<kelmar::region::RegionMapWriter> writer;
    std::string missing;  // why there is no writer
};

MapWriter LoadMapWriter() {
    const std::string name = KELMAR_REGION_MAP_MODULE;
    const kelmar::ProgramModule module =
        kelmar::LoadProgramModule(name, KELMAR_REGION_MAP_DIR, "kelmar_new_region_map_writer");
    if (!module.Unknown.empty())
        return {nullptr, "the program's own location, where the map module " + name + " is looked for, is unknown (" +
                             module.Unknown + ")"};
    using Factory = kelmar::region::RegionMapWriter* (*)();
    if (module.Symbol)
        return {std::unique_ptr<kelmar::region::RegionMapWriter>(reinterpret_cast<Factory>(module.Symbol)()), ""};
    return {nullptr, "no map module " + name + " could be loaded (it is built with the window); kelmar-cli looked "
                     "for it in" + module.Tried};
}

}  // namespace

int main(int argc, char** argv) {
    using namespace kelmar::cli;
    CliOptions options;
    try {
        options = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc),
                                   HelpWidth(std::getenv("COLUMNS"), TerminalColumns()));
        RefuseOutputsOverInputs(options);
    } catch (const UsageError& e) {
        std::cerr << UsageErrorLine(e) << '\n';
        return EXIT_USAGE;
    }
    // With data going to standard output, the report line goes to standard error.
    std::ostream& report = WritesToStandardOutput(options) ? std::cerr : std::cout;
    switch (options.command) {
        case Command::Simulate:
            return DeliverStandardOutput(RunSimulate(options, report, std::cerr));
        case Command::Estimate:
            return DeliverStandardOutput(RunEstimate(options, report, std::cerr));
        case Command::Batch:
            return DeliverStandardOutput(RunBatchCommand(options, report, std::cerr, ::isatty(STDERR_FILENO) != 0));
        case Command::Merge:
            return DeliverStandardOutput(RunMergeCommand(options, report, std::cerr));
        case Command::Extract:
            return DeliverStandardOutput(RunExtractCommand(options, report, std::cerr));
        case Command::Check: {
            const CheckFigure figure = LoadCheckFigure();
            return DeliverStandardOutput(
                RunCheckCommand(options, report, std::cerr, figure.writer.get(), figure.missing));
        }
        case Command::Map: {
            const MapWriter map = LoadMapWriter();
            return DeliverStandardOutput(RunMapCommand(options, report, std::cerr, map.writer.get(), map.missing));
        }
        case Command::Version:
            std::cout << "kelmar-cli " << VERSION << '\n';
            return DeliverStandardOutput(EXIT_OK);
        case Command::Help:
            break;
    }
    std::cout << options.helpText;
    return DeliverStandardOutput(EXIT_OK);
}
