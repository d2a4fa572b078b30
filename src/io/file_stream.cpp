#include "io/file_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <random>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "io/file_bytes.h"
#include "io/file_output.h"
#include "model/errors.h"

namespace kelmar {

namespace {

// Bytes collected before one write call: large enough that the system call
// costs nothing beside the formatting.
constexpr std::size_t BUFFER_BYTES = 4 * MIB;
// Pieces of at least this many bytes go to the file without the buffer.
constexpr std::size_t DIRECT_BYTES = 64 * 1024;
// Bytes of an AppendingFile handed to the disk at a time, ahead of Sync.
constexpr std::uint64_t WRITEBACK_BYTES = 8 * MIB;

std::string Reason(int error) { return std::generic_category().message(error); }

std::filesystem::path FolderOf(const std::string& fileName) {
    const std::filesystem::path target = PathOf(fileName);
    return target.has_parent_path() ? target.parent_path() : ".";
}

// A fresh name beside `fileName` for a temporary file or link.
std::string TemporaryNameBeside(const std::string& fileName, std::random_device& random) {
    const std::uint64_t bits = (std::uint64_t{random()} << 32) ^ random();
    char leaf[40];
    std::snprintf(leaf, sizeof leaf, ".kelmar-%016llx.tmp", static_cast<unsigned long long>(bits));
    return (FolderOf(fileName) / leaf).string();
}

// Creates a temporary file beside `fileName` exclusively; -1 with errno set
// when the folder refuses it.
int CreateTemporaryBeside(const std::string& fileName, std::string& path) {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = TemporaryNameBeside(fileName, random);
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}


// Copies `length` bytes of `in` from `offset` to the end of `out`. The
// kernel copies without passing the bytes through this process (and may
// share the blocks, where the file system can); a system without it falls
// back to reading and writing. Returns 0, the error number of a failure, or
// -1 when `in` ends early. `readFailed` tells which side failed.
int CopyBytes(int in, std::uint64_t offset, std::uint64_t length, int out, bool& readFailed) {
    readFailed = false;
    off_t from = static_cast<off_t>(offset);
    while (length > 0) {
        const ssize_t n = ::copy_file_range(in, &from, out, nullptr, static_cast<std::size_t>(std::min<std::uint64_t>(length, 1u << 30)), 0);
        if (n > 0) {
            length -= static_cast<std::uint64_t>(n);
            continue;
        }
        if (n == 0) return -1;
        if (errno == EINTR) continue;
        if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) break;
        return errno;
    }
    std::string buffer(std::min<std::uint64_t>(length, BUFFER_BYTES), '\0');
    while (length > 0) {
        const ssize_t n = ::pread(in, buffer.data(), std::min<std::uint64_t>(length, buffer.size()), from);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            readFailed = true;
            return errno;
        }
        if (n == 0) return -1;
        if (const int error = WriteAll(out, std::string_view(buffer.data(), static_cast<std::size_t>(n)))) return error;
        from += n;
        length -= static_cast<std::uint64_t>(n);
    }
    return 0;
}

void SyncFolderOf(const std::string& fileName) {
    const int dir = ::open(FolderOf(fileName).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);  // a folder that cannot be flushed does not undo the file
        ::close(dir);
    }
}

}  // namespace

DurableFileStream::DurableFileStream(const std::string& fileName) : Name(fileName) {
    Fd = CreateTemporaryBeside(fileName, TemporaryPath);
    if (Fd < 0) {
        const int error = errno;
        TemporaryPath.clear();
        Fail(error);
    }
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
    if (const int error = WriteAll(Fd, rest)) Fail(error);
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
    std::error_code error;
    const std::uint64_t size = std::filesystem::file_size(PathOf(source), error);
    if (error) throw KelmarError("Cannot read the file \"" + source + "\": " + error.message() + ".");
    CopyRange(source, 0, size);
}

void DurableFileStream::CopyRange(const std::string& source, std::uint64_t offset, std::uint64_t length) {
    const int in = ::open(PathOf(source).c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) throw KelmarError("Cannot read the file \"" + source + "\": " + Reason(errno) + ".");
    Flush();
    bool readFailed = false;
    const int error = CopyBytes(in, offset, length, Fd, readFailed);
    ::close(in);
    if (error == -1)
        throw KelmarError("Cannot read the file \"" + source + "\": it ends before byte " +
                          std::to_string(offset + length) + ".");
    if (error != 0 && readFailed) throw KelmarError("Cannot read the file \"" + source + "\": " + Reason(error) + ".");
    if (error != 0) Fail(error);
}

void DurableFileStream::Commit() {
    Flush();
    if (::fsync(Fd) != 0) Fail(errno);
    const int fd = Fd;
    Fd = -1;
    if (::close(fd) != 0) Fail(errno);
    if (::rename(TemporaryPath.c_str(), PathOf(Name).c_str()) != 0) Fail(errno);
    Committed = true;
    SyncFolderOf(Name);
}

AppendingFile::AppendingFile(const std::string& fileName, const std::uint64_t* keep, std::string_view header)
    : Name(fileName) {
    const std::string path = PathOf(fileName).string();
    bool fresh = keep == nullptr;
    if (!fresh) {
        Fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (Fd < 0) Fail(errno);
        struct stat info {};
        if (::fstat(Fd, &info) != 0) Fail(errno);
        if (::flock(Fd, LOCK_EX | LOCK_NB) != 0) Fail(errno);
        if (static_cast<std::uint64_t>(info.st_size) < *keep)
            throw KelmarError("The file \"" + Name + "\" holds " + std::to_string(info.st_size) + " bytes, fewer than the " +
                              std::to_string(*keep) + " recorded as written to it.");
        if (info.st_nlink > 1) {
            // Another name shares these bytes (a finished table): go on in a
            // copy of the part to keep, and leave the other name as it was.
            std::string temporary;
            const int copy = CreateTemporaryBeside(fileName, temporary);
            if (copy < 0) Fail(errno);
            bool readFailed = false;
            int error = CopyBytes(Fd, 0, *keep, copy, readFailed);
            if (error == 0 && ::fsync(copy) != 0) error = errno;
            if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
            if (error != 0) {
                ::close(copy);
                ::unlink(temporary.c_str());
                Fail(error < 0 ? EIO : error);
            }
            ::close(Fd);
            Fd = copy;
            if (::flock(Fd, LOCK_EX | LOCK_NB) != 0) Fail(errno);
            SyncFolderOf(fileName);
        } else if (::ftruncate(Fd, static_cast<off_t>(*keep)) != 0) {
            Fail(errno);
        }
        if (::lseek(Fd, static_cast<off_t>(*keep), SEEK_SET) < 0) Fail(errno);
        Length = *keep;
        WritebackFrom = *keep;
    } else {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) Fail(errno);
        Fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (Fd < 0) Fail(errno);
        if (::flock(Fd, LOCK_EX | LOCK_NB) != 0) Fail(errno);
        SyncFolderOf(fileName);
    }
    Buffer.reserve(BUFFER_BYTES);
    if (fresh) {
        // At once, so that the file never lacks it.
        if (const int error = WriteAll(Fd, header)) Fail(error);
        Length = header.size();
    }
}

AppendingFile::~AppendingFile() {
    if (Fd >= 0) ::close(Fd);
}

void AppendingFile::Fail(int error) const {
    if (error == EWOULDBLOCK)
        throw KelmarError("Cannot write the file \"" + Name + "\": another process is writing it.");
    throw KelmarError("Cannot write the file \"" + Name + "\" (" + Reason(error) + ").");
}

void AppendingFile::Flush() {
    if (const int error = WriteAll(Fd, Buffer)) Fail(error);
    Buffer.clear();
    StartWriteback();
}

void AppendingFile::StartWriteback() {
    // The disk starts on what was written while the work goes on, so that
    // Sync waits for little more than the last few megabytes. Only a hint:
    // a system without it leaves everything to Sync.
    const std::uint64_t written = Length - Buffer.size();
    if (written - WritebackFrom < WRITEBACK_BYTES) return;
    ::sync_file_range(Fd, static_cast<off_t>(WritebackFrom), static_cast<off_t>(written - WritebackFrom),
                      SYNC_FILE_RANGE_WRITE);
    WritebackFrom = written;
}

void AppendingFile::Write(std::string_view bytes) {
    Length += bytes.size();
    // A piece this large is written from where it lies rather than copied
    // into the buffer first.
    if (bytes.size() >= DIRECT_BYTES) {
        Flush();
        if (const int error = WriteAll(Fd, bytes)) Fail(error);
        StartWriteback();
        return;
    }
    if (Buffer.size() + bytes.size() > BUFFER_BYTES) Flush();
    Buffer.append(bytes);
}

void AppendingFile::Sync() {
    Flush();
    SyncWritten();
}

void AppendingFile::SyncWritten() const {
    if (::fsync(Fd) != 0) Fail(errno);
}

FileLock::FileLock(const std::string& fileName) {
    Fd = ::open(PathOf(fileName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (Fd < 0) throw KelmarError("Cannot write the file \"" + fileName + "\" (" + Reason(errno) + ").");
    if (::flock(Fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(Fd);
        if (error == EWOULDBLOCK) throw KelmarError("Another process holds the file \"" + fileName + "\".");
        throw KelmarError("Cannot lock the file \"" + fileName + "\" (" + Reason(error) + ").");
    }
}

FileLock::~FileLock() { ::close(Fd); }

bool LinkFileDurably(const std::string& existing, const std::string& newName) {
    std::random_device random;
    std::string temporary;
    for (int attempt = 0;; ++attempt) {
        temporary = TemporaryNameBeside(newName, random);
        if (::link(PathOf(existing).c_str(), temporary.c_str()) == 0) break;
        if (errno == EXDEV || errno == EPERM || errno == EOPNOTSUPP || errno == EMLINK) return false;
        if (errno != EEXIST || attempt >= 100)
            throw KelmarError("Cannot write the file \"" + newName + "\" (" + Reason(errno) + "); it was left as it was.");
    }
    if (::rename(temporary.c_str(), PathOf(newName).c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        throw KelmarError("Cannot write the file \"" + newName + "\" (" + Reason(error) + "); it was left as it was.");
    }
    // A rename between two names of one file does nothing: the new name was
    // the file already, and the temporary link is still there.
    ::unlink(temporary.c_str());
    SyncFolderOf(newName);
    return true;
}

}  // namespace kelmar
