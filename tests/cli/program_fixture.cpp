#include "program_fixture.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <iterator>

namespace kelmar::testing {

namespace {

#ifdef KELMAR_SANITIZED
constexpr bool SANITIZED = true;
#else
constexpr bool SANITIZED = false;
#endif

}  // namespace

std::string FileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFileText(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

pid_t StartProgram(const std::string& program, const std::vector<std::string>& args, const fs::path& folder,
                   const fs::path& outFile, const fs::path& errFile, const ProgramLimits& limits) {
    const pid_t child = fork();
    if (child != 0) return child;
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || chdir(folder.c_str()) != 0) _exit(126);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGALRM}) std::signal(signal, SIG_DFL);
    // Set after the captures are open: their writes are small.
    if (limits.FileBytes) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit size{*limits.FileBytes, *limits.FileBytes};
        if (setrlimit(RLIMIT_FSIZE, &size) != 0) _exit(126);
    }
    if (limits.AddressBytes && !SANITIZED) {
        const rlimit size{*limits.AddressBytes, *limits.AddressBytes};
        if (setrlimit(RLIMIT_AS, &size) != 0) _exit(126);
    }
    if (limits.Seconds > 0) alarm(limits.Seconds);
    execv(program.c_str(), argv.data());
    _exit(127);
}

int WaitProgram(pid_t child) {
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

ProgramOutcome RunProgram(const std::string& program, const std::vector<std::string>& args, const fs::path& folder,
                          const fs::path& capture, const fs::path& stdoutTo) {
    const fs::path outFile = capture.string() + ".out", errFile = capture.string() + ".err";
    ProgramOutcome outcome;
    outcome.status = WaitProgram(StartProgram(program, args, folder, stdoutTo.empty() ? outFile : stdoutTo, errFile));
    if (stdoutTo.empty()) outcome.out = FileText(outFile);
    outcome.err = FileText(errFile);
    fs::remove(outFile);
    fs::remove(errFile);
    return outcome;
}

ExampleFolder::ExampleFolder(const std::string& stem)
    : Folder(fs::temp_directory_path() / (stem + "-" + std::to_string(::getpid()))) {
    Refill();
}

ExampleFolder::~ExampleFolder() {
    // A test may have taken permissions away to show a refusal.
    std::error_code ignored;
    fs::permissions(Folder, fs::perms::owner_all, ignored);
    for (const auto& entry : fs::recursive_directory_iterator(Folder, ignored))
        if (entry.is_directory(ignored)) fs::permissions(entry.path(), fs::perms::owner_all, ignored);
    fs::remove_all(Folder, ignored);
}

void ExampleFolder::Refill() {
    fs::remove_all(Folder);
    fs::create_directories(Folder);
    for (const char* name : {"soil.sit", "climat.cld", "weather.wed"})
        fs::copy_file(fs::path(KELMAR_EXAMPLES_DIR) / name, Folder / name);
}

}  // namespace kelmar::testing
