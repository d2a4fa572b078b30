// Reading a data file whole, within the limit of its kind. Declared in
// io/file_bytes.h beside the writer.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "io/file_bytes.h"
#include "model/errors.h"

namespace fs = std::filesystem;

namespace kelmar {

namespace {

// Bytes asked of the system at a time.
constexpr std::size_t CHUNK_BYTES = 64 * 1024;

std::string ReplacePlaceholder(const char* format, const std::string& text) {
    std::string message = format;
    message.replace(message.find("%s"), 2, text);
    return message;
}

// The operating system's reason for the last failed call, from errno.
std::string SystemReason(int error) {
    return error != 0 ? std::strerror(error) : "the system gave no reason";
}

[[noreturn]] void ThrowReadError(const std::string& fileName, int error) {
    throw KelmarError("Cannot read the file \"" + fileName + "\": " + SystemReason(error) + ".");
}

[[noreturn]] void ThrowTooLarge(const std::string& fileName, const DataFileLimit& limit) {
    const std::string size = limit.MaxBytes % MIB == 0 ? std::to_string(limit.MaxBytes / MIB) + " MiB"
                                                        : std::to_string(limit.MaxBytes) + " bytes";
    throw KelmarError("The file \"" + fileName + "\" holds more than " + size + ", far more than any " + limit.Kind +
                      "; it was not read.");
}

}  // namespace

std::optional<std::string> ReadDataFile(const std::string& fileName, const char* notFoundFormat,
                                        const DataFileLimit& limit, Notifier& notifier) {
    const fs::path path = PathOf(fileName);
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status) || fs::is_directory(status)) {
        notifier.Warning(ReplacePlaceholder(notFoundFormat, fileName));
        return std::nullopt;
    }
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) ThrowReadError(fileName, errno);
    // Read in chunks, not by the size the file claims: a device or a pipe
    // claims none, and /dev/zero never ends.
    std::string bytes;
    std::vector<char> chunk(CHUNK_BYTES);
    for (;;) {
        errno = 0;
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        const int error = errno;
        if (in.bad()) ThrowReadError(fileName, error);
        const auto got = static_cast<std::size_t>(in.gcount());
        if (got > limit.MaxBytes - bytes.size()) ThrowTooLarge(fileName, limit);
        bytes.append(chunk.data(), got);
        if (in.eof()) return bytes;
    }
}

}  // namespace kelmar
