// Data files as whole byte strings: reading one, and replacing one so that a
// failed write never leaves a half-written file in place of a good one.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "model/notifier.h"

namespace kelmar {

// File names inside the program are UTF-8 on every platform; these turn
// them into paths of the file system and back.
std::filesystem::path PathOf(const std::string& utf8Name);
std::string Utf8Name(const std::filesystem::path& path);

// Every line a writer ends, it ends with CR LF.
inline constexpr std::string_view LINE_END = "\r\n";

inline constexpr std::size_t MIB = 1024 * 1024;  // bytes

// The most bytes a data file of one kind may hold. Each reader derives its
// limit from its format with wide room to spare, so that no real file is
// refused while /dev/zero or a mistaken choice of a huge file is.
struct DataFileLimit {
    const char* Kind;  // "weather file", for the message
    std::size_t MaxBytes;
};

// The bytes of the data file `fileName` (read by file_input.cpp). When no
// such file exists (a folder of that name is no file), shows `notFoundFormat`
// with "%s" replaced by the name as a warning and gives nothing. Raises
// KelmarError naming the file when it exists but cannot be read, with the
// operating system's reason, or when it holds more than `limit` allows;
// reading stops at the limit, so an endless source cannot exhaust memory.
std::optional<std::string> ReadDataFile(const std::string& fileName, const char* notFoundFormat,
                                        const DataFileLimit& limit, Notifier& notifier);

// Creates or replaces the file `fileName` with `bytes`. They go first into a
// new file in the same folder, which takes the target's name only when every
// byte was written; an existing target keeps its permissions. On failure
// raises KelmarError naming the file, and an existing file is left as it was.
void WriteFileAtomically(const std::string& fileName, std::string_view bytes);

}  // namespace kelmar
