// kelmar-cli: the simulation without the window, for scripts and batches.
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include <unistd.h>
#ifdef KELMAR_CHECK_FIGURE_MODULE
#include <dlfcn.h>
#endif

#include "cli/cli_commands.h"
#include "cli/cli_options.h"
#include "cli/output_files.h"

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

// The figure writer of `check`, from the module built beside the program
// with the window's libraries; nothing (and a note why) without it.
std::unique_ptr<kelmar::CheckFigureWriter> LoadCheckFigure(std::ostream& err) {
#ifdef KELMAR_CHECK_FIGURE_MODULE
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    const std::filesystem::path module = program.parent_path() / KELMAR_CHECK_FIGURE_MODULE;
    // Never closed: the writer's code lives in the module.
    if (void* handle = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL)) {
        using Factory = kelmar::CheckFigureWriter* (*)();
        if (auto* factory = reinterpret_cast<Factory>(::dlsym(handle, "kelmar_new_check_figure_writer")))
            return std::unique_ptr<kelmar::CheckFigureWriter>(factory());
    }
    const char* reason = ::dlerror();
    err << "note: cannot load the figure module " << module << " (" << (reason ? reason : "unknown reason")
        << ")\n";
#else
    (void)err;
#endif
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace kelmar::cli;
    CliOptions options;
    try {
        options = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
        RefuseOutputsOverInputs(options);
    } catch (const UsageError& e) {
        std::cerr << "kelmar-cli: " << e.what() << "\n\n" << USAGE;
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
        case Command::Check: {
            const auto figure = LoadCheckFigure(std::cerr);
            return DeliverStandardOutput(RunCheckCommand(options, report, std::cerr, figure.get()));
        }
        case Command::Version:
            std::cout << "kelmar-cli " << VERSION << '\n';
            return DeliverStandardOutput(EXIT_OK);
        case Command::Help:
            break;
    }
    std::cout << (options.helpText.empty() ? USAGE : options.helpText.c_str());
    return DeliverStandardOutput(EXIT_OK);
}
