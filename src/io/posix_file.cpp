#include "io/posix_file.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace kelmar {

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
        Reset();
        Fd = std::exchange(other.Fd, -1);
    }
    return *this;
}

void FileDescriptor::Reset() {
    if (Fd >= 0) ::close(Fd);
    Fd = -1;
}

int FileDescriptor::Close() {
    if (Fd < 0) return 0;
    const int result = ::close(std::exchange(Fd, -1));
    return result == 0 ? 0 : errno;
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

fs::path FolderOf(const fs::path& fileName) { return fileName.has_parent_path() ? fileName.parent_path() : fs::path("."); }

FileDescriptor OpenFolder(const fs::path& folder) {
    return FileDescriptor(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

void SyncFolder(int folder) { ::fsync(folder); }

void SyncFolder(const fs::path& folder) {
    if (const FileDescriptor fd = OpenFolder(folder)) SyncFolder(fd.Get());
}

namespace {

// How often a new temporary name is drawn when the drawn one is taken.
// Names hold 64 random bits, so a second draw is already rare.
constexpr int NAME_ATTEMPTS = 100;

constexpr std::string_view PREFIX = ".kelmar-";
constexpr std::size_t DIGITS = 16;  // hexadecimal digits of the 64 random bits
constexpr std::string_view FILE_SUFFIX = ".tmp";
constexpr std::string_view COMPANION_SUFFIX = ".lock";

std::string TemporaryLeaf(std::string_view digits, std::string_view suffix) {
    return std::string(PREFIX).append(digits).append(suffix);
}

// Short and independent of the target's name, so that a target name of the
// longest length a file system allows (255 bytes) still has a temporary
// name beside it.
std::string RandomDigits(std::random_device& random) {
    const std::uint64_t bits = (std::uint64_t{random()} << 32) ^ random();
    char digits[DIGITS + 1];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(bits));
    return digits;
}

// The digits of a temporary file's or companion's name, with `companion`
// telling which; empty for any other name.
std::string_view DigitsOf(std::string_view name, bool& companion) {
    companion = name.ends_with(COMPANION_SUFFIX);
    const std::size_t suffix = companion ? COMPANION_SUFFIX.size() : FILE_SUFFIX.size();
    if (!name.starts_with(PREFIX) || name.size() != PREFIX.size() + DIGITS + suffix) return {};
    if (!companion && !name.ends_with(FILE_SUFFIX)) return {};
    const std::string_view digits = name.substr(PREFIX.size(), DIGITS);
    const bool hex = std::all_of(digits.begin(), digits.end(),
                                 [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
    return hex ? digits : std::string_view();
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Whether the name `name` in `folder` is still the file open as `fd`.
bool NameIsFile(int folder, const std::string& name, int fd) {
    struct stat open {}, named {};
    return ::fstat(fd, &open) == 0 && ::fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           SameFile(open, named);
}

// The temporary files this process is writing, so that SIGINT, SIGTERM and
// SIGHUP can remove them before the process ends. A signal handler may only
// read plain memory and call async-signal-safe functions, hence a fixed
// table of folder descriptors and short names, claimed with atomic flags.
namespace in_flight {

// Names at once in one process (a ByName temporary takes two); more are
// written without this cleanup, and RemoveStaleTemporaries stays their
// only remedy.
constexpr int SLOTS = 256;
constexpr int FREE = 0, FILLING = 1, ACTIVE = 2;

struct Slot {
    std::atomic<int> State{FREE};
    int Folder = -1;
    char Name[32] = {};
};
Slot slots[SLOTS];
static_assert(PREFIX.size() + DIGITS + COMPANION_SUFFIX.size() < sizeof(Slot::Name));

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

// Registers `name` in `folder`, before the file is made so that no moment
// exists where it is on disk and unknown to the handler. Gives the slot, or
// -1 when every slot is taken.
int Claim(int folder, const std::string& name) {
    for (int i = 0; i < SLOTS; ++i) {
        int expected = FREE;
        if (!slots[i].State.compare_exchange_strong(expected, FILLING, std::memory_order_acq_rel)) continue;
        slots[i].Folder = folder;
        const std::size_t length = name.copy(slots[i].Name, sizeof slots[i].Name - 1);
        slots[i].Name[length] = '\0';
        slots[i].State.store(ACTIVE, std::memory_order_release);
        return i;
    }
    return -1;
}

void Release(int& slot) {
    if (slot >= 0) slots[slot].State.store(FREE, std::memory_order_release);
    slot = -1;
}

// Whether this process registered a file of that name.
bool Registered(std::string_view name) {
    for (const Slot& slot : slots)
        if (slot.State.load(std::memory_order_acquire) == ACTIVE && name == slot.Name) return true;
    return false;
}

}  // namespace in_flight

// MakeLocked's result when a cleaner took the new file in the instant
// between its creation and its lock: another name is drawn.
constexpr int LOST_TO_CLEANER = -1;

// Creates `name` in `folder` exclusively, registered in `slot`, and locks
// it. Gives 0, the error number (EEXIST: the name is another writer's), or
// LOST_TO_CLEANER.
int MakeLocked(int folder, const std::string& name, int& slot, FileDescriptor& file) {
    slot = in_flight::Claim(folder, name);
    FileDescriptor fd(::openat(folder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!fd) {
        const int error = errno;
        in_flight::Release(slot);  // the name may be another writer's: never remove it
        return error;
    }
    int locked = ::flock(fd.Get(), LOCK_EX | LOCK_NB);
    while (locked != 0 && errno == EINTR) locked = ::flock(fd.Get(), LOCK_EX | LOCK_NB);
    // A cleaner that opened the file before this lock holds its own and is
    // removing it, or has already removed it: either way the name is lost.
    // On a file system without locks the file goes on unlocked; no cleaner
    // can lock it either, so none removes it.
    if ((locked != 0 && errno == EWOULDBLOCK) || !NameIsFile(folder, name, fd.Get())) {
        in_flight::Release(slot);
        return LOST_TO_CLEANER;
    }
    file = std::move(fd);
    return 0;
}

// The descriptor of `name` in `folder`, locked, when it is a regular file
// whose lock no one holds; an empty one otherwise (held by a writer, not
// openable for writing, which the lock needs on NFS, or anything else).
FileDescriptor LockIfUnheld(int folder, const std::string& name) {
    FileDescriptor fd(::openat(folder, name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat info {};
    if (!fd || ::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) return {};
    // Locked: the name must still be the file whose lock this is.
    if (!NameIsFile(folder, name, fd.Get())) return {};
    return fd;
}

}  // namespace

TemporaryFile::~TemporaryFile() { Remove(); }

void TemporaryFile::Remove() {
    // The name goes first and the lock after, so that no cleaner can take a
    // file whose writer still means to remove it.
    if (!Leaf.empty() && !Renamed) ::unlinkat(FolderFd.Get(), Leaf.c_str(), 0);
    File.Close();
    in_flight::Release(Slot);
    if (!CompanionLeaf.empty() && Companion) ::unlinkat(FolderFd.Get(), CompanionLeaf.c_str(), 0);
    Companion.Close();
    in_flight::Release(CompanionSlot);
    Leaf.clear();
    CompanionLeaf.clear();
}

int TemporaryFile::Create(const fs::path& folder, Kind kind) { return Make(folder, kind, nullptr); }

int TemporaryFile::CreateLinkTo(const fs::path& folder, const fs::path& existing) {
    return Make(folder, Kind::ByName, &existing);
}

int TemporaryFile::Make(const fs::path& folder, Kind kind, const fs::path* existing) {
    if (FolderFd) return EBUSY;  // made already
    FolderPath = folder.empty() ? fs::path(".") : folder;
    FolderFd = OpenFolder(FolderPath);
    if (!FolderFd) return errno;
    in_flight::InstallHandler();
    std::random_device random;
    const int dir = FolderFd.Get();
    for (int attempt = 1; attempt <= NAME_ATTEMPTS; ++attempt) {
        const std::string digits = RandomDigits(random);
        const std::string name = TemporaryLeaf(digits, FILE_SUFFIX);
        if (kind == Kind::Written) {
            const int error = MakeLocked(dir, name, Slot, File);
            if (error == 0) Leaf = name;
            if (error == 0 || (error != EEXIST && error != LOST_TO_CLEANER)) return error;
            continue;
        }
        const std::string companion = TemporaryLeaf(digits, COMPANION_SUFFIX);
        const int error = MakeLocked(dir, companion, CompanionSlot, Companion);
        if (error == EEXIST || error == LOST_TO_CLEANER) continue;
        if (error != 0) return error;
        CompanionLeaf = companion;
        Slot = in_flight::Claim(dir, name);
        int made = 0;
        if (existing) {
            if (::linkat(AT_FDCWD, existing->c_str(), dir, name.c_str(), 0) != 0) made = errno;
        } else {
            FileDescriptor fd(::openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
            made = fd ? fd.Close() : errno;
        }
        if (made == 0) {
            Leaf = name;
            return 0;
        }
        in_flight::Release(Slot);  // never remove a name that may be another writer's
        Remove();                  // the companion
        if (made != EEXIST) return made;
    }
    return EEXIST;
}

int TemporaryFile::RenameTo(const std::string& leaf) {
    const int dir = FolderFd.Get();
    if (::renameat(dir, Leaf.c_str(), dir, leaf.c_str()) != 0) return errno;
    // A rename between two names of one file does nothing and succeeds; the
    // temporary name is then still there.
    struct stat temporary {}, target {};
    if (::fstatat(dir, Leaf.c_str(), &temporary, AT_SYMLINK_NOFOLLOW) == 0 &&
        ::fstatat(dir, leaf.c_str(), &target, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(temporary, target))
        ::unlinkat(dir, Leaf.c_str(), 0);
    Renamed = true;
    in_flight::Release(Slot);
    return 0;
}

int TemporaryFile::LinkTo(const std::string& leaf) {
    const int dir = FolderFd.Get();
    return ::linkat(dir, Leaf.c_str(), dir, leaf.c_str(), 0) == 0 ? 0 : errno;
}

FileDescriptor TemporaryFile::TakeFd() { return std::move(File); }

std::size_t RemoveStaleTemporaries(const fs::path& folder) {
    const FileDescriptor dir = OpenFolder(folder);
    if (!dir) return 0;
    // Listed first: the folder is not changed while it is read.
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        bool companion = false;
        std::string name = entry->path().filename().string();
        if (!DigitsOf(name, companion).empty() && !in_flight::Registered(name)) names.push_back(std::move(name));
    }
    std::size_t removed = 0;
    const auto remove = [&](const std::string& name) {
        if (::unlinkat(dir.Get(), name.c_str(), 0) == 0) ++removed;
    };
    for (const std::string& name : names) {
        bool companion = false;
        const std::string digits(DigitsOf(name, companion));
        const std::string file = TemporaryLeaf(digits, FILE_SUFFIX), lock = TemporaryLeaf(digits, COMPANION_SUFFIX);
        struct stat info {};
        const bool withCompanion = companion || ::fstatat(dir.Get(), lock.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
        // The lock that tells: the companion's where there is one, else the file's own.
        const FileDescriptor held = LockIfUnheld(dir.Get(), withCompanion ? lock : file);
        if (!held) continue;
        // The file before its companion, the lock held until both are gone,
        // as the writer removes them.
        remove(file);
        if (withCompanion) remove(lock);
    }
    SyncFolder(dir.Get());
    return removed;
}

}  // namespace kelmar
