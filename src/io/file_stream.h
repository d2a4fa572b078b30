// Files too large to hold in memory whole, written piece by piece (the
// batch's tables): DurableFileStream appears under its name only once every
// byte is on the disk, the counterpart of WriteFileAtomically for streams;
// AppendingFile grows in steps, each made durable before it is recorded
// elsewhere, and is cut back to the last recorded step when it is opened
// again. Regular files only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "io/posix_file.h"
#include "model/errors.h"

namespace kelmar {

class DurableFileStream {
public:
    // Creates a new file beside `fileName` under a temporary name (a
    // TemporaryFile: exclusive, never another writer's file, removed on
    // SIGINT, SIGTERM and SIGHUP). Raises KelmarError naming the file and
    // the system's reason when the folder cannot take it.
    explicit DurableFileStream(const std::string& fileName);
    // Removes the temporary file unless Commit succeeded.
    ~DurableFileStream() = default;
    DurableFileStream(const DurableFileStream&) = delete;
    DurableFileStream& operator=(const DurableFileStream&) = delete;

    // Appends bytes; they are collected into large writes.
    void Write(std::string_view bytes);
    // Appends the whole content of the file `source`.
    void CopyFrom(const std::string& source);
    // Appends `length` bytes of the file `source` from byte `offset`; raises
    // KelmarError naming `source` when it is shorter.
    void CopyRange(const std::string& source, std::uint64_t offset, std::uint64_t length);
    // Writes what is buffered, flushes the file to the disk, gives it its
    // name (replacing a file of that name) and flushes the folder. On any
    // failure raises KelmarError; the old file of that name stays as it was.
    void Commit();

private:
    void Flush();
    void WriteOut(std::string_view bytes);
    [[noreturn]] void Fail(int error);

    std::string Name;
    TemporaryFile Temporary;
    std::string Buffer;
};

// A file one process appends to, in steps made durable by Sync. While it is
// open it holds an exclusive lock on the file, so a second process opening
// the same file is refused instead of mixing its bytes in.
class AppendingFile {
public:
    // Opens `fileName` to append after its first `*keep` bytes, cutting off
    // what follows (bytes of a step that was never recorded). Without `keep`
    // the file is made anew holding `header`: an old file of that name is
    // unlinked first, never overwritten, so that a name linked to it
    // elsewhere keeps its bytes; the same is done, keeping the first `*keep`
    // bytes, for a file that has other names (the copy is a TemporaryFile
    // until it takes the name). Raises KelmarError naming the file and the
    // system's reason, also when the file is shorter than `*keep` or another
    // process holds it.
    AppendingFile(const std::string& fileName, const std::uint64_t* keep, std::string_view header);
    AppendingFile(const AppendingFile&) = delete;
    AppendingFile& operator=(const AppendingFile&) = delete;

    // Appends bytes; they are collected into large writes.
    void Write(std::string_view bytes);
    // The file's length with what Write has collected.
    std::uint64_t Size() const { return Length; }
    // Writes what is collected and flushes the file to the disk.
    void Sync();
    // The two halves of Sync: Flush hands what is collected to the system;
    // SyncWritten then waits until everything handed over is on the disk.
    // SyncWritten may run on another thread while Write goes on (it then
    // may take some of the later bytes along too).
    void Flush();
    void SyncWritten() const;

private:
    void StartWriteback();
    [[noreturn]] void Fail(int error) const;

    std::string Name;
    std::string Buffer;
    std::uint64_t Length = 0;
    std::uint64_t WritebackFrom = 0;  // bytes before it are handed to the disk
    FileDescriptor File;
};

// An exclusive lock on the file `fileName` (made when missing, never
// removed), held while the object lives, so that two processes cannot both
// do the work the file stands for. Raises KelmarError naming the file when
// another process holds it or it cannot be made.
// Raised by FileLock when another process holds the lock; any other
// failure to lock (a folder that cannot be written) is a plain KelmarError.
class LockHeld : public KelmarError {
public:
    using KelmarError::KelmarError;
};

class FileLock {
public:
    explicit FileLock(const std::string& fileName);

private:
    FileDescriptor File;
};

// Gives the existing file `existing` the further name `newName` (a hard
// link: no byte is copied), replacing a file of that name atomically, and
// flushes the folder. False, having changed nothing, when the file system
// cannot link the two (another file system, no hard links); KelmarError
// naming `newName` for other failures.
bool LinkFileDurably(const std::string& existing, const std::string& newName);

}  // namespace kelmar
