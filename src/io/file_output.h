// Where the writers' bytes go: ordinary files are replaced whole and durably,
// devices, FIFOs and standard output are written in place, and two names can
// be checked for leading to one file before anything is written.
// WriteFileAtomically itself is declared in io/file_bytes.h.
#pragma once

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

}  // namespace kelmar
