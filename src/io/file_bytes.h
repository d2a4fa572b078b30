// Data files as whole byte strings: reading one, and replacing one so that a
// failed write never leaves a half-written file in place of a good one.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "io/path_names.h"
#include "model/notifier.h"

namespace kelmar {

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
// such file exists, shows `notFoundFormat` with "%s" replaced by the name
// as a warning and gives nothing; a folder of that name is no file either,
// and is warned about as a folder. Raises KelmarError naming the file when
// it exists but cannot be read, with the operating system's reason, when it
// is no regular file (a FIFO, a device, a socket: never waited on; only
// "/dev/stdin" is read whatever it is), or when it holds more than `limit`
// allows; reading stops at the limit, so an endless standard input cannot
// exhaust memory.
std::optional<std::string> ReadDataFile(const std::string& fileName, const char* notFoundFormat,
                                        const DataFileLimit& limit, Notifier& notifier);

// Creates or replaces the file `fileName` with `bytes` (defined in
// io/file_output.cpp). A regular file, or a name no file has yet, is written
// under a fresh temporary name beside the end of its links and takes the
// target's name only once every byte is on the disk, keeping the old file's
// mode and, where allowed, its owner; the links stay. A character device or
// a FIFO is written in place, and "-" (STANDARD_OUTPUT_NAME) is standard
// output; anything else is refused. On failure raises KelmarError naming the
// file and the system's reason; a replaced file is then left as it was.
void WriteFileAtomically(const std::string& fileName, std::string_view bytes);

}  // namespace kelmar
