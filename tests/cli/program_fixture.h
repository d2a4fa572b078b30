// kelmar-cli started as a program, as a person or a job script starts it:
// in a folder of its own, its standard output and error captured, under
// limits set on the child. The command-line tests share this.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kelmar::testing {

namespace fs = std::filesystem;

std::string FileText(const fs::path& path);
void WriteFileText(const fs::path& path, const std::string& bytes);

// Limits set on the child before the program starts.
struct ProgramLimits {
    std::optional<rlim_t> FileBytes;     // RLIMIT_FSIZE: a write past it fails with EFBIG (SIGXFSZ ignored)
    std::optional<rlim_t> AddressBytes;  // RLIMIT_AS: allocations past it fail; not set under the address
                                         // sanitizer, whose shadow memory needs terabytes of address space
    unsigned Seconds = 0;                // a hang ends by SIGALRM (status 142); 0: no alarm
};

// Starts `program` with `args` in `folder`, standard output to `outFile`
// and standard error to `errFile`, with the signals a terminal leaves at
// their defaults whatever the test runner's own handling. Gives the child.
pid_t StartProgram(const std::string& program, const std::vector<std::string>& args, const fs::path& folder,
                   const fs::path& outFile, const fs::path& errFile, const ProgramLimits& limits = {});

// The exit status of `child`, or 128 + the signal that ended it; -1 when
// it cannot be waited for.
int WaitProgram(pid_t child);

// What a finished run printed, and how it ended.
struct ProgramOutcome {
    int status = -1;  // the exit status, or 128 + the signal that ended it
    std::string out, err;
};

// Runs `program` in `folder` to its end, standard output and error caught
// in `capture`.out and .err (removed afterwards), or standard output sent
// to `stdoutTo` when given (and `out` left empty).
ProgramOutcome RunProgram(const std::string& program, const std::vector<std::string>& args, const fs::path& folder,
                          const fs::path& capture, const fs::path& stdoutTo = {});

// A fresh folder in the temporary folder, named by `stem` and this process,
// holding copies of the example site, climatology and weather files;
// removed with the object.
class ExampleFolder {
public:
    explicit ExampleFolder(const std::string& stem);
    ~ExampleFolder();
    ExampleFolder(const ExampleFolder&) = delete;
    ExampleFolder& operator=(const ExampleFolder&) = delete;

    const fs::path& Path() const { return Folder; }
    // Removes everything in it and puts the example files back.
    void Refill();

private:
    fs::path Folder;
};

}  // namespace kelmar::testing
