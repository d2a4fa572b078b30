#include "io/file_output.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "io/file_bytes.h"
#include "io/posix_file.h"
#include "model/errors.h"

namespace fs = std::filesystem;

namespace kelmar {

void MakeFolders(const std::string& dir) {
    std::error_code error;
    std::filesystem::create_directories(PathOf(dir), error);
    if (!error) return;
    // A file where a folder of the path should be: name it, not the
    // system's "Not a directory" about a path the user never wrote.
    for (fs::path part = PathOf(dir); !part.empty() && part != part.parent_path(); part = part.parent_path()) {
        std::error_code ignored;
        const fs::file_status status = fs::status(part, ignored);
        if (fs::exists(status) && !fs::is_directory(status))
            throw KelmarError("Cannot create the folder \"" + dir + "\": \"" + Utf8Name(part) +
                              "\" is a file, not a folder. Name a folder, or move the file away.");
    }
    throw KelmarError("Cannot create the folder \"" + dir + "\" (" + error.message() + ").");
}

namespace {

// How many links one name may pass through before it counts as a loop; the
// limit Linux applies to one path lookup (MAXSYMLINKS).
constexpr int LINK_LIMIT = 40;

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
    TemporaryFile temporary;
    if (const int error = temporary.Create(FolderOf(target))) ThrowUnchanged(fileName, Reason(error));
    struct stat old {};
    const bool replacing =
        ::fstatat(temporary.Folder(), leaf.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(old.st_mode);
    if (const int error = WriteAll(temporary.Fd(), bytes)) ThrowUnchanged(fileName, Reason(error));
    if (replacing) TakeOwnerAndMode(temporary.Fd(), old);
    if (::fsync(temporary.Fd()) != 0) ThrowUnchanged(fileName, Reason(errno));
    if (const int error = temporary.RenameTo(leaf)) ThrowUnchanged(fileName, Reason(error));
    SyncFolder(temporary.Folder());
}

// A character device or a FIFO: opened and written as it is, as a shell
// redirection would.
void WriteInPlace(const std::string& fileName, const fs::path& name, std::string_view bytes) {
    FileDescriptor out(::open(name.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
    if (!out) ThrowStreamError(fileName, Reason(errno));
    if (const int error = WriteAll(out.Get(), bytes)) ThrowStreamError(fileName, Reason(error));
    if (const int error = out.Close()) ThrowStreamError(fileName, Reason(error));
}

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

struct FileReplacement::State {
    std::string FileName;
    std::string Leaf;  // the target's name in the temporary file's folder
    bool Replacing = false;
    struct stat Old {};
    // Of kind ByName: the library takes its own lock on the file it writes.
    TemporaryFile Temporary;
    std::string Path;
};

FileReplacement::FileReplacement(const std::string& fileName) : Impl(std::make_unique<State>()) {
    State& state = *Impl;
    state.FileName = fileName;
    const fs::path target = ReplaceableTarget(fileName);
    state.Leaf = target.filename().string();
    if (const int error = state.Temporary.Create(FolderOf(target), TemporaryFile::Kind::ByName))
        ThrowUnchanged(fileName, Reason(error));
    state.Replacing = ::fstatat(state.Temporary.Folder(), state.Leaf.c_str(), &state.Old, AT_SYMLINK_NOFOLLOW) == 0 &&
                      S_ISREG(state.Old.st_mode);
    state.Path = state.Temporary.Path().string();
}

FileReplacement::~FileReplacement() = default;

const std::string& FileReplacement::TemporaryPath() const { return Impl->Path; }

void FileReplacement::Commit() {
    State& state = *Impl;
    // Opened anew: the library may have created the file again under the
    // name, and a flush through any descriptor of a file flushes its data.
    FileDescriptor written(
        ::openat(state.Temporary.Folder(), state.Temporary.Name().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!written) ThrowUnchanged(state.FileName, Reason(errno));
    if (state.Replacing) TakeOwnerAndMode(written.Get(), state.Old);
    if (::fsync(written.Get()) != 0) ThrowUnchanged(state.FileName, Reason(errno));
    if (const int error = written.Close()) ThrowUnchanged(state.FileName, Reason(error));
    if (const int error = state.Temporary.RenameTo(state.Leaf)) ThrowUnchanged(state.FileName, Reason(error));
    SyncFolder(state.Temporary.Folder());
}

}  // namespace kelmar
