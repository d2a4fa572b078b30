#include "io/file_output.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <system_error>
#include <utility>

#include "io/file_bytes.h"
#include "model/errors.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#define NOMINMAX  // std::min, not the header's macro
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace kelmar {

void MakeFolders(const std::string& dir) {
    std::error_code error;
    std::filesystem::create_directories(PathOf(dir), error);
    if (error) throw KelmarError("Cannot create the folder \"" + dir + "\" (" + error.message() + ").");
}

int WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

namespace {

// How many links one name may pass through before it counts as a loop; the
// limit Linux applies to one path lookup (MAXSYMLINKS).
constexpr int LINK_LIMIT = 40;

// How often a new temporary name is drawn when the drawn one exists. Names
// hold 64 random bits, so a second draw is already rare.
constexpr int TEMPORARY_NAME_ATTEMPTS = 100;

std::string Reason(int error) { return std::generic_category().message(error); }

// The file was not touched, or it still holds what it held before.
[[noreturn]] void ThrowUnchanged(const std::string& fileName, const std::string& reason) {
    throw KelmarError("Cannot write the file \"" + fileName + "\" (" + reason + "); it was left as it was.");
}

// A device or FIFO, where part of the bytes may have gone out already.
[[noreturn]] void ThrowStreamError(const std::string& fileName, const std::string& reason) {
    throw KelmarError("Cannot write to \"" + fileName + "\" (" + reason + ").");
}

// The name the chain of symbolic links starting at `name` ends in: the
// name itself when it is no link, a name that need not exist when the last
// link dangles. Sets `error` for a chain longer than LINK_LIMIT (a loop).
fs::path FinalTarget(const fs::path& name, std::error_code& error) {
    fs::path current = name;
    for (int links = 0; links <= LINK_LIMIT; ++links) {
        std::error_code ignored;
        if (!fs::is_symlink(fs::symlink_status(current, ignored))) return current;
        const fs::path next = fs::read_symlink(current, error);
        if (error) return current;
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
    error = std::make_error_code(std::errc::too_many_symbolic_link_levels);
    return current;
}

// A file name that no other writer draws: short and independent of the
// target's name, so that a target name of the longest length a file system
// allows (255 bytes) still has a temporary name beside it.
std::string TemporaryName() {
    std::random_device random;
    const std::uint64_t bits = (std::uint64_t{random()} << 32) ^ random();
    char name[32];
    std::snprintf(name, sizeof name, ".kelmar-%016llx.tmp", static_cast<unsigned long long>(bits));
    return name;
}

#ifndef _WIN32

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : Fd(fd) {}
    ~FileDescriptor() {
        if (Fd >= 0) ::close(Fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            if (Fd >= 0) ::close(Fd);
            Fd = std::exchange(other.Fd, -1);
        }
        return *this;
    }
    int Get() const { return Fd; }
    explicit operator bool() const { return Fd >= 0; }
    // Closes now and gives the error close reports (0 for none).
    int Close() {
        const int result = ::close(Fd);
        Fd = -1;
        return result == 0 ? 0 : errno;
    }

private:
    int Fd;
};


// Standard output: whatever the program put into the stream's buffer goes
// first, then the bytes go straight to the descriptor, so that a failed
// write leaves nothing buffered to fail a second time.
void WriteStandardOutput(std::string_view bytes) {
    errno = 0;
    int error = std::fflush(stdout) == 0 ? 0 : (errno != 0 ? errno : EIO);
    if (error == 0) error = WriteAll(STDOUT_FILENO, bytes);
    if (error == 0) return;
    std::clearerr(stdout);  // reported here, not a second time at the end of the program
    throw KelmarError("Cannot write the standard output (" + Reason(error) + ").");
}

// Whether `name` is the regular file standard output was sent to (the
// system's /dev/stdout, or the very file of a shell redirection): it is then
// written through standard output, which goes on where the stream stands
// (after what it received before, and at the end of a file opened to append)
// instead of replacing the file and everything in it.
bool IsStandardOutputFile(const fs::path& name) {
    struct stat out {}, file {};
    return ::fstat(STDOUT_FILENO, &out) == 0 && S_ISREG(out.st_mode) && ::stat(name.c_str(), &file) == 0 &&
           out.st_dev == file.st_dev && out.st_ino == file.st_ino;
}

// The temporary files this process is writing, so that SIGINT, SIGTERM and
// SIGHUP can remove them before the process ends. A signal handler may only
// read plain memory and call async-signal-safe functions, hence a fixed
// table of folder descriptors and short names, claimed with atomic flags.
namespace in_flight {

constexpr int SLOTS = 64;  // writers at work at once in one process; more are written without this cleanup
constexpr int FREE = 0, FILLING = 1, ACTIVE = 2;

struct Slot {
    std::atomic<int> State{FREE};
    int Folder = -1;
    char Name[32] = {};
};
Slot slots[SLOTS];

constexpr std::array<int, 3> SIGNALS = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previous[SIGNALS.size()];

void RemoveAndPassOn(int signal, siginfo_t* info, void* context) {
    const int savedErrno = errno;
    for (Slot& slot : slots)
        if (slot.State.load(std::memory_order_acquire) == ACTIVE) ::unlinkat(slot.Folder, slot.Name, 0);
    for (std::size_t i = 0; i < SIGNALS.size(); ++i) {
        if (SIGNALS[i] != signal) continue;
        const struct sigaction& before = previous[i];
        if ((before.sa_flags & SA_SIGINFO) != 0 && before.sa_sigaction != nullptr) {
            before.sa_sigaction(signal, info, context);
        } else if (before.sa_handler != SIG_DFL && before.sa_handler != SIG_IGN && before.sa_handler != nullptr) {
            before.sa_handler(signal);
        } else {
            // End the process as the signal would have ended it: the signal
            // raised here is delivered with its default action once this
            // handler returns.
            struct sigaction fallback {};
            fallback.sa_handler = SIG_DFL;
            sigemptyset(&fallback.sa_mask);
            ::sigaction(signal, &fallback, nullptr);
            ::raise(signal);
        }
    }
    errno = savedErrno;
}

// Installs the handler once per process. A signal the process ignores (as
// under nohup) stays ignored; a handler installed before is called after the
// files are removed.
void InstallHandler() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (std::size_t i = 0; i < SIGNALS.size(); ++i) {
            if (::sigaction(SIGNALS[i], nullptr, &previous[i]) != 0) continue;
            if ((previous[i].sa_flags & SA_SIGINFO) == 0 && previous[i].sa_handler == SIG_IGN) continue;
            struct sigaction action {};
            action.sa_sigaction = RemoveAndPassOn;
            action.sa_flags = SA_SIGINFO | SA_RESTART;
            sigemptyset(&action.sa_mask);
            ::sigaction(SIGNALS[i], &action, nullptr);
        }
    });
}

// Registers `name` in `folder`, before the file is created so that no
// moment exists where it is on disk and unknown to the handler. Gives the
// slot, or -1 when every slot is taken.
int Claim(int folder, const std::string& name) {
    for (int i = 0; i < SLOTS; ++i) {
        int expected = FREE;
        if (!slots[i].State.compare_exchange_strong(expected, FILLING, std::memory_order_acq_rel)) continue;
        slots[i].Folder = folder;
        name.copy(slots[i].Name, sizeof slots[i].Name - 1);
        slots[i].Name[std::min(name.size(), sizeof slots[i].Name - 1)] = '\0';
        slots[i].State.store(ACTIVE, std::memory_order_release);
        return i;
    }
    return -1;
}

void Release(int slot) {
    if (slot >= 0) slots[slot].State.store(FREE, std::memory_order_release);
}

}  // namespace in_flight

// A new file beside the target, created exclusively under a fresh name and
// removed again unless it was moved onto the target.
class TemporaryFile {
public:
    TemporaryFile(int folder, const std::string& fileName) : Folder(folder) {
        in_flight::InstallHandler();
        for (int attempt = 1; attempt <= TEMPORARY_NAME_ATTEMPTS; ++attempt) {
            Name = TemporaryName();
            Slot = in_flight::Claim(Folder, Name);
            File = FileDescriptor(::openat(Folder, Name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
            if (File) return;
            const int error = errno;
            in_flight::Release(Slot);  // the name may be another writer's: never remove it
            Slot = -1;
            if (error != EEXIST) ThrowUnchanged(fileName, Reason(error));
        }
        ThrowUnchanged(fileName, Reason(EEXIST));
    }
    ~TemporaryFile() {
        if (File) File.Close();
        if (!Moved) ::unlinkat(Folder, Name.c_str(), 0);
        in_flight::Release(Slot);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    int Descriptor() const { return File.Get(); }
    const std::string& FileName() const { return Name; }
    int Close() { return File.Close(); }
    // Gives the name of the target to this file; 0 or the error.
    int MoveTo(const std::string& targetName) {
        if (::renameat(Folder, Name.c_str(), Folder, targetName.c_str()) != 0) return errno;
        Moved = true;
        return 0;
    }

private:
    int Folder;
    std::string Name;
    int Slot = -1;
    FileDescriptor File;
    bool Moved = false;
};

// Gives the file open as `fd` the owner and mode of the file `old` it replaces.
void TakeOwnerAndMode(int fd, const struct stat& old) {
    // Owner first: a change of owner clears the set-user and set-group bits
    // that the mode then restores. A user who may not give a file away still
    // keeps its group where they belong to it.
    if (::fchown(fd, old.st_uid, old.st_gid) != 0 && ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
        // neither is allowed: the new file has the writer's owner and group
    }
    ::fchmod(fd, old.st_mode & 07777);
}

// Replaces the regular file (or the missing file) `target` by a file holding
// `bytes`: it is written beside the target, flushed to the disk, given the
// old file's mode and, where the system allows, its owner, then renamed onto
// the target, and the folder flushed so that the new name survives a crash.
void ReplaceFile(const std::string& fileName, const fs::path& target, std::string_view bytes) {
    const std::string leaf = target.filename().string();
    if (leaf.empty() || leaf == "." || leaf == "..") ThrowUnchanged(fileName, Reason(EISDIR));
    const fs::path folderPath = target.has_parent_path() ? target.parent_path() : fs::path(".");
    FileDescriptor folder(::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) ThrowUnchanged(fileName, Reason(errno));
    struct stat old {};
    const bool replacing = ::fstatat(folder.Get(), leaf.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(old.st_mode);

    TemporaryFile temporary(folder.Get(), fileName);
    if (const int error = WriteAll(temporary.Descriptor(), bytes)) ThrowUnchanged(fileName, Reason(error));
    if (replacing) TakeOwnerAndMode(temporary.Descriptor(), old);
    if (::fsync(temporary.Descriptor()) != 0) ThrowUnchanged(fileName, Reason(errno));
    if (const int error = temporary.Close()) ThrowUnchanged(fileName, Reason(error));
    if (const int error = temporary.MoveTo(leaf)) ThrowUnchanged(fileName, Reason(error));
    // The file is in place; a folder that cannot be flushed (some file
    // systems refuse it) does not undo that.
    ::fsync(folder.Get());
}

// A character device or a FIFO: opened and written as it is, as a shell
// redirection would.
void WriteInPlace(const std::string& fileName, const fs::path& name, std::string_view bytes) {
    FileDescriptor out(::open(name.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
    if (!out) ThrowStreamError(fileName, Reason(errno));
    if (const int error = WriteAll(out.Get(), bytes)) ThrowStreamError(fileName, Reason(error));
    if (const int error = out.Close()) ThrowStreamError(fileName, Reason(error));
}

#else  // Windows

void WriteStandardOutput(std::string_view bytes) {
    _setmode(_fileno(stdout), _O_BINARY);  // line ends stay CR LF, not CR CR LF
    errno = 0;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() && std::fflush(stdout) == 0;
    if (written) return;
    const int error = errno != 0 ? errno : EIO;
    std::clearerr(stdout);
    throw KelmarError("Cannot write the standard output (" + Reason(error) + ").");
}

bool IsStandardOutputFile(const fs::path&) { return false; }

std::string WindowsReason() { return std::system_category().message(static_cast<int>(::GetLastError())); }

void ReplaceFile(const std::string& fileName, const fs::path& target, std::string_view bytes) {
    const fs::path folder = target.parent_path();
    fs::path temporary;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 1; attempt <= TEMPORARY_NAME_ATTEMPTS && file == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = folder / TemporaryName();
        file = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) ThrowUnchanged(fileName, WindowsReason());
    }
    if (file == INVALID_HANDLE_VALUE) ThrowUnchanged(fileName, Reason(EEXIST));
    bool ok = true;
    while (ok && !bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        ok = ::WriteFile(file, bytes.data(), chunk, &written, nullptr) != 0;
        bytes.remove_prefix(written);
    }
    ok = ok && ::FlushFileBuffers(file) != 0;
    const std::string reason = ok ? std::string() : WindowsReason();
    ::CloseHandle(file);
    if (ok && ::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0)
        return;
    const std::string failure = ok ? WindowsReason() : reason;
    ::DeleteFileW(temporary.c_str());
    ThrowUnchanged(fileName, failure);
}

void WriteInPlace(const std::string& fileName, const fs::path&, std::string_view) {
    ThrowUnchanged(fileName, "it is not a regular file");
}

#endif

}  // namespace

void WriteFileAtomically(const std::string& fileName, std::string_view bytes) {
    if (fileName == STANDARD_OUTPUT_NAME) return WriteStandardOutput(bytes);
    const fs::path name = PathOf(fileName);
    std::error_code error;
    const fs::file_status status = fs::status(name, error);  // through links
    if (fs::exists(status)) {
        if (fs::is_character_file(status) || fs::is_fifo(status)) return WriteInPlace(fileName, name, bytes);
        if (fs::is_directory(status)) ThrowUnchanged(fileName, Reason(EISDIR));
        if (!fs::is_regular_file(status))
            ThrowUnchanged(fileName, "it is not a regular file, a character device or a FIFO");
        if (IsStandardOutputFile(name)) return WriteStandardOutput(bytes);
    } else if (error && status.type() != fs::file_type::not_found) {
        ThrowUnchanged(fileName, error.message());  // a loop of links, a folder that may not be searched
    }
    error.clear();
    const fs::path target = FinalTarget(name, error);
    if (error) ThrowUnchanged(fileName, error.message());
    // A file the system reaches although its links end in a missing name
    // (the view of an open file whose name was deleted, under /proc) has no
    // name a new file could take.
    if (fs::exists(status) && !fs::exists(fs::symlink_status(target, error))) {
        ThrowUnchanged(fileName, "its links lead to no name the file can be written under");
    }
    ReplaceFile(fileName, target, bytes);
}

bool SameFile(const std::string& a, const std::string& b) {
    if (a == b) return true;
    if (a == STANDARD_OUTPUT_NAME || b == STANDARD_OUTPUT_NAME) return false;
    const fs::path pathA = PathOf(a), pathB = PathOf(b);
    std::error_code error;
    const bool existsA = fs::exists(pathA, error), existsB = fs::exists(pathB, error);
    if (existsA && existsB) return fs::equivalent(pathA, pathB, error);
    if (existsA || existsB) return false;
    // Neither exists: compare the names they would be created under, with
    // the folders' own links resolved.
    const auto creationName = [](const fs::path& name) {
        std::error_code ignored;
        fs::path target = FinalTarget(name, ignored);
        target = fs::absolute(target, ignored);
        return fs::weakly_canonical(target.parent_path(), ignored) / target.filename();
    };
    return creationName(pathA) == creationName(pathB);
}

namespace {

// The name a FileReplacement writes beside: the end of the links of
// `fileName`, which must be a regular file or a name no file has yet.
fs::path ReplaceableTarget(const std::string& fileName) {
    // The library seeks back to fill in what it wrote before, which a
    // stream cannot do.
    const char* const notSeekable = "a file that is written out of order must be a regular file";
    if (fileName == STANDARD_OUTPUT_NAME) ThrowUnchanged(fileName, notSeekable);
    const fs::path name = PathOf(fileName);
    std::error_code error;
    const fs::file_status status = fs::status(name, error);  // through links
    if (fs::exists(status)) {
        if (fs::is_directory(status)) ThrowUnchanged(fileName, Reason(EISDIR));
        if (!fs::is_regular_file(status)) ThrowUnchanged(fileName, notSeekable);
        if (IsStandardOutputFile(name)) ThrowUnchanged(fileName, "it is where the standard output goes");
    } else if (error && status.type() != fs::file_type::not_found) {
        ThrowUnchanged(fileName, error.message());
    }
    error.clear();
    const fs::path target = FinalTarget(name, error);
    if (error) ThrowUnchanged(fileName, error.message());
    if (fs::exists(status) && !fs::exists(fs::symlink_status(target, error))) {
        ThrowUnchanged(fileName, "its links lead to no name the file can be written under");
    }
    const std::string leaf = target.filename().string();
    if (leaf.empty() || leaf == "." || leaf == "..") ThrowUnchanged(fileName, Reason(EISDIR));
    return target;
}

}  // namespace

#ifndef _WIN32

struct FileReplacement::State {
    std::string FileName;
    std::string Leaf;  // the target's name in Folder
    FileDescriptor Folder;
    bool Replacing = false;
    struct stat Old {};
    std::unique_ptr<TemporaryFile> Temporary;  // destroyed before Folder closes
    std::string Path;
};

FileReplacement::FileReplacement(const std::string& fileName) : Impl(std::make_unique<State>()) {
    State& state = *Impl;
    state.FileName = fileName;
    const fs::path target = ReplaceableTarget(fileName);
    state.Leaf = target.filename().string();
    const fs::path folderPath = target.has_parent_path() ? target.parent_path() : fs::path(".");
    state.Folder = FileDescriptor(::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!state.Folder) ThrowUnchanged(fileName, Reason(errno));
    state.Replacing = ::fstatat(state.Folder.Get(), state.Leaf.c_str(), &state.Old, AT_SYMLINK_NOFOLLOW) == 0 &&
                      S_ISREG(state.Old.st_mode);
    state.Temporary = std::make_unique<TemporaryFile>(state.Folder.Get(), fileName);
    state.Temporary->Close();  // the library opens the file by its name
    state.Path = (folderPath / state.Temporary->FileName()).string();
}

FileReplacement::~FileReplacement() = default;

const std::string& FileReplacement::TemporaryPath() const { return Impl->Path; }

void FileReplacement::Commit() {
    State& state = *Impl;
    // Opened anew: the library may have created the file again under the
    // name, and a flush through any descriptor of a file flushes its data.
    FileDescriptor written(
        ::openat(state.Folder.Get(), state.Temporary->FileName().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!written) ThrowUnchanged(state.FileName, Reason(errno));
    if (state.Replacing) TakeOwnerAndMode(written.Get(), state.Old);
    if (::fsync(written.Get()) != 0) ThrowUnchanged(state.FileName, Reason(errno));
    if (const int error = written.Close()) ThrowUnchanged(state.FileName, Reason(error));
    if (const int error = state.Temporary->MoveTo(state.Leaf)) ThrowUnchanged(state.FileName, Reason(error));
    ::fsync(state.Folder.Get());  // as in ReplaceFile: the file is in place either way
}

#else  // Windows

struct FileReplacement::State {
    std::string FileName;
    fs::path Target;
    fs::path Temporary;
    std::string Path;  // UTF-8
    bool Moved = false;
};

FileReplacement::FileReplacement(const std::string& fileName) : Impl(std::make_unique<State>()) {
    State& state = *Impl;
    state.FileName = fileName;
    state.Target = ReplaceableTarget(fileName);
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 1; attempt <= TEMPORARY_NAME_ATTEMPTS && file == INVALID_HANDLE_VALUE; ++attempt) {
        state.Temporary = state.Target.parent_path() / TemporaryName();
        file = ::CreateFileW(state.Temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
        if (file == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS)
            ThrowUnchanged(fileName, WindowsReason());
    }
    if (file == INVALID_HANDLE_VALUE) ThrowUnchanged(fileName, Reason(EEXIST));
    ::CloseHandle(file);
    state.Path = Utf8Name(state.Temporary);
}

FileReplacement::~FileReplacement() {
    if (!Impl->Moved) ::DeleteFileW(Impl->Temporary.c_str());
}

const std::string& FileReplacement::TemporaryPath() const { return Impl->Path; }

void FileReplacement::Commit() {
    State& state = *Impl;
    HANDLE file = ::CreateFileW(state.Temporary.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) ThrowUnchanged(state.FileName, WindowsReason());
    const bool flushed = ::FlushFileBuffers(file) != 0;
    const std::string reason = flushed ? std::string() : WindowsReason();
    ::CloseHandle(file);
    if (!flushed) ThrowUnchanged(state.FileName, reason);
    if (::MoveFileExW(state.Temporary.c_str(), state.Target.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0)
        ThrowUnchanged(state.FileName, WindowsReason());
    state.Moved = true;
}

#endif

}  // namespace kelmar
