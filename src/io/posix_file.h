// The POSIX steps every writer of this layer shares, kept in one place: a
// descriptor that closes itself, writing all of a byte string, flushing a
// folder, and the temporary files a writer fills beside its target before
// renaming them onto it. A temporary file has a short hidden name,
// `.kelmar-<16 hex digits>.tmp`, made exclusively (never another writer's
// file); it is removed when its object goes without having been renamed,
// and when SIGINT, SIGTERM or SIGHUP ends the process. A process killed
// outright (SIGKILL, a power cut) cannot remove it: RemoveStaleTemporaries
// does so later, telling a dead writer's file from a live one by the lock
// every temporary file holds while its writer lives.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

namespace kelmar {

// Owns an open file descriptor and closes it when it goes.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : Fd(fd) {}
    ~FileDescriptor() { Reset(); }
    FileDescriptor(FileDescriptor&& other) noexcept : Fd(std::exchange(other.Fd, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int Get() const { return Fd; }
    explicit operator bool() const { return Fd >= 0; }
    // Closes now; gives 0, or the error number close reports.
    int Close();

private:
    void Reset();
    int Fd = -1;
};

// Writes all of `bytes` to the descriptor `fd`, going on after partial
// writes and interruptions. Gives 0, or the error number of the failure.
int WriteAll(int fd, std::string_view bytes);

// The folder a file name lies in: "." for a name without one.
std::filesystem::path FolderOf(const std::filesystem::path& fileName);

// The folder `folder` opened for the calls relative to it and for
// SyncFolder; an empty descriptor, with errno set, when it cannot be.
FileDescriptor OpenFolder(const std::filesystem::path& folder);

// Flushes the entries of a folder to the disk, so that a name made, renamed
// or removed in it survives a crash. A folder that cannot be flushed (some
// file systems refuse it) is passed over: the change is made either way.
void SyncFolder(int folder);
void SyncFolder(const std::filesystem::path& folder);

// A temporary file in a folder, registered for removal on SIGINT, SIGTERM
// and SIGHUP from its creation until it is renamed or removed. While it
// lives it holds an exclusive flock(2) lock, which RemoveStaleTemporaries
// takes as the sign of a live writer. Not copyable or movable: the signal
// handler knows it by its folder's descriptor, which it owns.
class TemporaryFile {
public:
    enum class Kind {
        // Written by this process through Fd(); the lock is on the file itself.
        Written,
        // Written by another party by its name (a library that opens it
        // itself and takes its own lock on it): the lock sits on a companion
        // `.kelmar-<same digits>.lock`, made before the file and removed
        // after it, so that the two locks never meet.
        ByName,
    };

    TemporaryFile() = default;
    // Removes the file, unless it was renamed, then its companion.
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // Creates a new, empty temporary file in `folder` (read and write for
    // Written, closed again for ByName). Gives 0, or the error number.
    int Create(const std::filesystem::path& folder, Kind kind = Kind::Written);
    // Makes the temporary name a further name of the existing file
    // `existing` (a hard link: nothing is copied), of kind ByName. Gives 0,
    // or the error number of the folder or of link(2) (EXDEV for another
    // file system).
    int CreateLinkTo(const std::filesystem::path& folder, const std::filesystem::path& existing);

    int Fd() const { return File.Get(); }  // Written only; -1 otherwise
    int Folder() const { return FolderFd.Get(); }
    const std::string& Name() const { return Leaf; }  // the name in Folder()
    std::filesystem::path Path() const { return FolderPath / Leaf; }

    // Renames the file to `leaf` in its folder, replacing a file of that
    // name, while its lock is still held. Gives 0, or the error number;
    // the temporary is then still there, and still removed when it goes.
    int RenameTo(const std::string& leaf);
    // Gives the file the further name `leaf` in its folder only where no
    // file has that name (EEXIST otherwise): the way to make a file that
    // many processes may race to make. The temporary name goes as usual.
    int LinkTo(const std::string& leaf);
    // The descriptor of a Written file, for a caller that goes on writing it
    // after RenameTo; the lock stays with it.
    FileDescriptor TakeFd();

private:
    int Make(const std::filesystem::path& folder, Kind kind, const std::filesystem::path* existing);
    void Remove();

    std::filesystem::path FolderPath;
    FileDescriptor FolderFd;
    std::string Leaf, CompanionLeaf;  // CompanionLeaf: ByName only
    FileDescriptor File, Companion;   // the descriptor holding the lock
    int Slot = -1, CompanionSlot = -1;
    bool Renamed = false;
};

// Removes from `folder` the temporary files (and companions) whose writers
// have ended without removing them: those whose lock can be taken. Those of
// a live writer, in this process or another, are kept (on another machine
// sharing the folder where its file system passes locks between machines,
// as NFS does unless mounted without), and so is a file whose lock cannot
// be tried (a file system without locks, a file of another user). Gives
// the number of files removed; a folder that cannot be read gives 0.
std::size_t RemoveStaleTemporaries(const std::filesystem::path& folder);

}  // namespace kelmar
