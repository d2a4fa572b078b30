#include "io/file_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "io/file_bytes.h"
#include "io/posix_file.h"
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

}  // namespace

DurableFileStream::DurableFileStream(const std::string& fileName) : Name(fileName) {
    if (const int error = Temporary.Create(FolderOf(PathOf(fileName)))) Fail(error);
    Buffer.reserve(BUFFER_BYTES);
}

void DurableFileStream::Fail(int error) {
    throw KelmarError("Cannot write the file \"" + Name + "\" (" + Reason(error) + "); it was left as it was.");
}

void DurableFileStream::WriteOut(std::string_view rest) {
    if (const int error = WriteAll(Temporary.Fd(), rest)) Fail(error);
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
    const FileDescriptor in(::open(PathOf(source).c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) throw KelmarError("Cannot read the file \"" + source + "\": " + Reason(errno) + ".");
    Flush();
    bool readFailed = false;
    const int error = CopyBytes(in.Get(), offset, length, Temporary.Fd(), readFailed);
    if (error == -1)
        throw KelmarError("Cannot read the file \"" + source + "\": it ends before byte " +
                          std::to_string(offset + length) + ".");
    if (error != 0 && readFailed) throw KelmarError("Cannot read the file \"" + source + "\": " + Reason(error) + ".");
    if (error != 0) Fail(error);
}

void DurableFileStream::Commit() {
    Flush();
    if (::fsync(Temporary.Fd()) != 0) Fail(errno);
    if (const int error = Temporary.RenameTo(PathOf(Name).filename().string())) Fail(error);
    SyncFolder(Temporary.Folder());
}

AppendingFile::AppendingFile(const std::string& fileName, const std::uint64_t* keep, std::string_view header)
    : Name(fileName) {
    const std::filesystem::path path = PathOf(fileName);
    if (keep) {
        File = FileDescriptor(::open(path.c_str(), O_RDWR | O_CLOEXEC));
        if (!File) Fail(errno);
        struct stat info {};
        if (::fstat(File.Get(), &info) != 0) Fail(errno);
        if (::flock(File.Get(), LOCK_EX | LOCK_NB) != 0) Fail(errno);
        if (static_cast<std::uint64_t>(info.st_size) < *keep)
            throw KelmarError("The file \"" + Name + "\" holds " + std::to_string(info.st_size) + " bytes, fewer than the " +
                              std::to_string(*keep) + " recorded as written to it.");
        if (info.st_nlink > 1) {
            // Another name shares these bytes (a finished table): go on in a
            // copy of the part to keep, and leave the other name as it was.
            TemporaryFile copy;
            if (const int error = copy.Create(FolderOf(path))) Fail(error);
            bool readFailed = false;
            int error = CopyBytes(File.Get(), 0, *keep, copy.Fd(), readFailed);
            if (error == 0 && ::fsync(copy.Fd()) != 0) error = errno;
            if (error == 0) error = copy.RenameTo(path.filename().string());
            if (error != 0) Fail(error < 0 ? EIO : error);
            SyncFolder(copy.Folder());
            File = copy.TakeFd();  // locked since it was made
        } else if (::ftruncate(File.Get(), static_cast<off_t>(*keep)) != 0) {
            Fail(errno);
        }
        if (::lseek(File.Get(), static_cast<off_t>(*keep), SEEK_SET) < 0) Fail(errno);
        Length = *keep;
        WritebackFrom = *keep;
    } else {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) Fail(errno);
        File = FileDescriptor(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (!File) Fail(errno);
        if (::flock(File.Get(), LOCK_EX | LOCK_NB) != 0) Fail(errno);
        SyncFolder(FolderOf(path));
    }
    Buffer.reserve(BUFFER_BYTES);
    if (!keep) {
        // At once, so that the file never lacks it.
        if (const int error = WriteAll(File.Get(), header)) Fail(error);
        Length = header.size();
    }
}

void AppendingFile::Fail(int error) const {
    if (error == EWOULDBLOCK)
        throw KelmarError("Cannot write the file \"" + Name + "\": another process is writing it.");
    throw KelmarError("Cannot write the file \"" + Name + "\" (" + Reason(error) + ").");
}

void AppendingFile::Flush() {
    if (const int error = WriteAll(File.Get(), Buffer)) Fail(error);
    Buffer.clear();
    StartWriteback();
}

void AppendingFile::StartWriteback() {
    // The disk starts on what was written while the work goes on, so that
    // Sync waits for little more than the last few megabytes. Only a hint:
    // a system without it leaves everything to Sync.
    const std::uint64_t written = Length - Buffer.size();
    if (written - WritebackFrom < WRITEBACK_BYTES) return;
    ::sync_file_range(File.Get(), static_cast<off_t>(WritebackFrom), static_cast<off_t>(written - WritebackFrom),
                      SYNC_FILE_RANGE_WRITE);
    WritebackFrom = written;
}

void AppendingFile::Write(std::string_view bytes) {
    Length += bytes.size();
    // A piece this large is written from where it lies rather than copied
    // into the buffer first.
    if (bytes.size() >= DIRECT_BYTES) {
        Flush();
        if (const int error = WriteAll(File.Get(), bytes)) Fail(error);
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
    if (::fsync(File.Get()) != 0) Fail(errno);
}

FileLock::FileLock(const std::string& fileName)
    : File(::open(PathOf(fileName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666)) {
    if (!File) throw KelmarError("Cannot write the file \"" + fileName + "\" (" + Reason(errno) + ").");
    if (::flock(File.Get(), LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK) throw LockHeld("Another process holds the file \"" + fileName + "\".");
        throw KelmarError("Cannot lock the file \"" + fileName + "\" (" + Reason(error) + ").");
    }
}

bool LinkFileDurably(const std::string& existing, const std::string& newName) {
    const std::filesystem::path target = PathOf(newName);
    const auto fail = [&](int error) {
        throw KelmarError("Cannot write the file \"" + newName + "\" (" + Reason(error) + "); it was left as it was.");
    };
    TemporaryFile link;
    if (const int error = link.CreateLinkTo(FolderOf(target), PathOf(existing))) {
        if (error == EXDEV || error == EPERM || error == EOPNOTSUPP || error == EMLINK) return false;
        fail(error);
    }
    if (const int error = link.RenameTo(target.filename().string())) fail(error);
    SyncFolder(link.Folder());
    return true;
}

}  // namespace kelmar
