#include "io/file_stream.h"

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <random>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "io/file_bytes.h"
#include "model/errors.h"

namespace kelmar {

namespace {

// Bytes collected before one write call: large enough that the system call
// costs nothing beside the formatting.
constexpr std::size_t BUFFER_BYTES = 4 * MIB;
// Pieces of at least this many bytes go to the file without the buffer.
constexpr std::size_t DIRECT_BYTES = 64 * 1024;

std::string Reason(int error) { return std::generic_category().message(error); }

}  // namespace

DurableFileStream::DurableFileStream(const std::string& fileName) : Name(fileName) {
    const std::filesystem::path target = PathOf(fileName);
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    std::random_device random;
    for (int attempt = 0; attempt < 100 && Fd < 0; ++attempt) {
        const std::uint64_t bits = (std::uint64_t{random()} << 32) ^ random();
        char leaf[40];
        std::snprintf(leaf, sizeof leaf, ".kelmar-%016llx.tmp", static_cast<unsigned long long>(bits));
        TemporaryPath = (folder / leaf).string();
        Fd = ::open(TemporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (Fd < 0 && errno != EEXIST) Fail(errno);
    }
    if (Fd < 0) Fail(EEXIST);
    Buffer.reserve(BUFFER_BYTES);
}

DurableFileStream::~DurableFileStream() {
    if (Fd >= 0) ::close(Fd);
    if (!Committed && !TemporaryPath.empty()) ::unlink(TemporaryPath.c_str());
}

void DurableFileStream::Fail(int error) {
    throw KelmarError("Cannot write the file \"" + Name + "\" (" + Reason(error) + "); it was left as it was.");
}

void DurableFileStream::WriteOut(std::string_view rest) {
    while (!rest.empty()) {
        const ssize_t n = ::write(Fd, rest.data(), rest.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) Fail(errno);
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
}

void DurableFileStream::Flush() {
    WriteOut(Buffer);
    Buffer.clear();
}

void DurableFileStream::Write(std::string_view bytes) {
    // A piece this large is written from where it lies rather than copied
    // into the buffer first (a batch site's rows are about a megabyte).
    if (bytes.size() >= DIRECT_BYTES) {
        Flush();
        WriteOut(bytes);
        return;
    }
    if (Buffer.size() + bytes.size() > BUFFER_BYTES) Flush();
    Buffer.append(bytes);
}

void DurableFileStream::CopyFrom(const std::string& source) {
    const int in = ::open(PathOf(source).c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) throw KelmarError("Cannot read the file \"" + source + "\": " + Reason(errno) + ".");
    Flush();
    // The kernel copies without passing the bytes through this process (and
    // may share the blocks, where the file system can); a system without it
    // falls back to reading and writing.
    for (;;) {
        const ssize_t n = ::copy_file_range(in, nullptr, Fd, nullptr, 1 << 30, 0);
        if (n > 0) continue;
        if (n == 0) {
            ::close(in);
            return;
        }
        if (errno == EINTR) continue;
        if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) break;
        const int error = errno;
        ::close(in);
        Fail(error);
    }
    Buffer.resize(BUFFER_BYTES);
    while (true) {
        const ssize_t n = ::read(in, Buffer.data(), Buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            ::close(in);
            Buffer.clear();
            throw KelmarError("Cannot read the file \"" + source + "\": " + Reason(error) + ".");
        }
        if (n == 0) break;
        const std::size_t got = static_cast<std::size_t>(n);
        std::string_view chunk(Buffer.data(), got);
        while (!chunk.empty()) {
            const ssize_t w = ::write(Fd, chunk.data(), chunk.size());
            if (w < 0 && errno == EINTR) continue;
            if (w < 0) {
                const int error = errno;
                ::close(in);
                Fail(error);
            }
            chunk.remove_prefix(static_cast<std::size_t>(w));
        }
    }
    ::close(in);
    Buffer.clear();
}

void DurableFileStream::Commit() {
    Flush();
    if (::fsync(Fd) != 0) Fail(errno);
    const int fd = Fd;
    Fd = -1;
    if (::close(fd) != 0) Fail(errno);
    if (::rename(TemporaryPath.c_str(), PathOf(Name).c_str()) != 0) Fail(errno);
    Committed = true;
    const std::filesystem::path target = PathOf(Name);
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);  // a folder that cannot be flushed does not undo the file
        ::close(dir);
    }
}

}  // namespace kelmar
