// Reading a data file whole, within the limit of its kind. Declared in
// io/file_bytes.h beside the writer.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "io/file_bytes.h"
#include "io/posix_file.h"
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

// The kind of a file that is neither a regular file nor a folder.
const char* SpecialKind(mode_t mode) {
    if (S_ISFIFO(mode)) return "a FIFO (named pipe)";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    return "a special file";
}

[[noreturn]] void ThrowNotRegular(const std::string& fileName, mode_t mode) {
    throw KelmarError("The file \"" + fileName + "\" is not a regular file but " + SpecialKind(mode) +
                      "; inputs are read only from regular files. Name the file itself, or save the data to one.");
}

// The one special file read as it is: the standard input, named by the
// person running the program (`... < list.csv` or `producer | ...`), whose
// writer is then in place.
bool IsStandardInput(const std::string& fileName) { return fileName == "/dev/stdin"; }

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
    // O_NONBLOCK: opening a FIFO without a writer would otherwise wait for
    // one forever. The type is then checked on the open file itself, so a
    // name swapped between a check and the open cannot slip through.
    FileDescriptor in(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!in) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) {
            notifier.Warning(ReplacePlaceholder(notFoundFormat, fileName));
            return std::nullopt;
        }
        // A socket cannot be opened at all (ENXIO): say what it is.
        struct stat named {};
        if (::stat(path.c_str(), &named) == 0 && !S_ISREG(named.st_mode) && !S_ISDIR(named.st_mode))
            ThrowNotRegular(fileName, named.st_mode);
        ThrowReadError(fileName, error);
    }
    struct stat status {};
    if (::fstat(in.Get(), &status) != 0) ThrowReadError(fileName, errno);
    if (S_ISDIR(status.st_mode)) {
        notifier.Warning("\"" + fileName + "\" is a folder, not a file; name a file in it.");
        return std::nullopt;
    }
    if (!S_ISREG(status.st_mode) && !IsStandardInput(fileName)) ThrowNotRegular(fileName, status.st_mode);
    const int flags = ::fcntl(in.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(in.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) ThrowReadError(fileName, errno);
    // Read in chunks, not by the size the file claims: the standard input
    // claims none when it is a pipe, and such a pipe may never end.
    std::string bytes;
    std::vector<char> chunk(CHUNK_BYTES);
    for (;;) {
        const ssize_t got = ::read(in.Get(), chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) ThrowReadError(fileName, errno);
        if (got == 0) return bytes;
        if (static_cast<std::size_t>(got) > limit.MaxBytes - bytes.size()) ThrowTooLarge(fileName, limit);
        bytes.append(chunk.data(), static_cast<std::size_t>(got));
    }
}

}  // namespace kelmar
