// Start-up of the program as a user meets it: kelmar-cli forked and
// exec'ed, waited for, and timed from outside, for `--version` (the loader
// and static start-up alone) and for one short `simulate` (one simulated
// year on the example site, standard output to /dev/null). Most of a run
// this short is the dynamic loader resolving the program's libraries, so
// every library the program links shows here.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace kelmar {
namespace {

// Runs the program with `args`, its standard output and error to /dev/null;
// false when it could not start or did not exit with 0.
bool RunProgram(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(KELMAR_CLI_PROGRAM));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int started = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0) return false;
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void RunStartup(benchmark::State& state, const std::vector<std::string>& args) {
    for (auto _ : state) {
        if (!RunProgram(args)) {
            state.SkipWithError((std::string(KELMAR_CLI_PROGRAM) + " did not run to success").c_str());
            break;
        }
    }
}

void BM_StartupVersion(benchmark::State& state) { RunStartup(state, {"--version"}); }
BENCHMARK(BM_StartupVersion)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_StartupSimulateOneYear(benchmark::State& state) {
    RunStartup(state, {"simulate", "--site", KELMAR_EXAMPLES_DIR "/soil.sit", "--climate",
                       KELMAR_EXAMPLES_DIR "/climat.cld", "--run-years", "1", "--seed", "1", "--results", "-"});
}
BENCHMARK(BM_StartupSimulateOneYear)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace kelmar
