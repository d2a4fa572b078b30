// A window file that writes a results file itself: the window reaches
// files only through the application's commands, so the layers test
// expects this include to be missing.
#include "io/file_bytes.h"

namespace kelmar {
std::string BytesOfTheWindow(const std::string& name) { return ReadFileBytes(name); }
}  // namespace kelmar
