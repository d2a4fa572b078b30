// Where the writers' bytes go: ordinary files are replaced whole and durably,
// devices, FIFOs and standard output are written in place, and two names can
// be checked for leading to one file before anything is written.
// WriteFileAtomically itself is declared in io/file_bytes.h.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace kelmar {

// The output name that stands for the process's standard output.
inline constexpr std::string_view STANDARD_OUTPUT_NAME = "-";

// Whether the names `a` and `b`, taken exactly as given (a caller that adds
// or replaces an extension does so first), lead to the same file. Names of
// existing files are compared by the file they reach, so that links, hard
// links and differently written paths to one file count as the same; names
// of files still to be created are compared by the name they would be
// created under, after the links on the way. An existing and a missing file
// are never the same. STANDARD_OUTPUT_NAME is the same only as itself.
bool SameFile(const std::string& a, const std::string& b);

// Makes the folder `dir` (UTF-8) and those above it that are missing;
// raises KelmarError naming the folder and the system's reason.
void MakeFolders(const std::string& dir);

// A file that a library writes by its name (the netCDF writer), put in place
// of the file `fileName` as WriteFileAtomically replaces a regular file: the
// library writes a fresh, exclusively created temporary file beside the end
// of the name's links, and Commit flushes it to the disk, gives it the old
// file's mode and, where allowed, its owner, and renames it onto the target.
// Standard output, devices, FIFOs and folders are refused, as the library
// seeks in its file, and so is the regular file standard output was sent to.
// Until Commit the target is untouched; the temporary file (a TemporaryFile
// of kind ByName, io/posix_file.h) is removed when the object goes without
// Commit and when SIGINT, SIGTERM or SIGHUP ends the process. Every failure
// raises KelmarError naming `fileName`.
class FileReplacement {
public:
    explicit FileReplacement(const std::string& fileName);
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // The name the library is to write, in the file system's encoding.
    const std::string& TemporaryPath() const;
    // Puts the written file in place of the target. Call it once the library
    // has closed the file.
    void Commit();

private:
    struct State;
    std::unique_ptr<State> Impl;
};

}  // namespace kelmar
