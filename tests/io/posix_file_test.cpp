// The temporary files every writer makes: removed when a signal ends the
// process, whichever kind they are; left behind only by a kill that cannot
// be caught, and then removed by RemoveStaleTemporaries unless a live
// writer, in this process or another, still holds them.
#include <gtest/gtest.h>

#include <csignal>
#include <set>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include "io/io_test_support.h"
#include "io/posix_file.h"

namespace kelmar {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::WriteBytes;

std::set<std::string> Names(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

std::string Joined(const std::set<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += " " + name;
    return text.empty() ? " (none)" : text;
}

// The writer of posix_file_helper.cpp, started with the signals' default
// handling (a test runner may have started this process with SIGINT
// ignored), and running once it has said so.
class HelperWriter {
public:
    HelperWriter(const fs::path& folder, const char* kind) {
        int channel[2];
        EXPECT_EQ(::pipe(channel), 0);
        Pid = ::fork();
        if (Pid == 0) {
            for (const int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, SIG_DFL);
            ::dup2(channel[1], STDOUT_FILENO);
            ::execl(POSIX_FILE_HELPER, POSIX_FILE_HELPER, folder.c_str(), kind, static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(channel[1]);
        char said[6] = {};
        Ready = ::read(channel[0], said, 5) == 5 && std::string(said) == "ready";
        ::close(channel[0]);
    }
    ~HelperWriter() {
        if (Pid > 0) End(SIGKILL);
    }
    bool Ready = false;
    // Sends `signal` and gives the signal that ended the writer (0: it exited).
    int End(int signal) {
        ::kill(Pid, signal);
        int status = 0;
        ::waitpid(Pid, &status, 0);
        Pid = -1;
        return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }

private:
    pid_t Pid = -1;
};

TEST(TemporaryFile, EachSignalThatEndsTheWriterRemovesItsFilesWhateverTheirKind) {
    for (const char* kind : {"written", "library"}) {
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
            TempDir dir;
            HelperWriter writer(dir.Folder(), kind);
            ASSERT_TRUE(writer.Ready) << kind;
            const std::size_t made = Names(dir.Folder()).size();
            EXPECT_EQ(made, std::string(kind) == "library" ? 2u : 1u) << kind << ":" << Joined(Names(dir.Folder()));
            EXPECT_EQ(writer.End(signal), signal) << kind << ": the writer did not end as signal " << signal << " ends it";
            EXPECT_TRUE(Names(dir.Folder()).empty())
                << kind << ", signal " << signal << " left:" << Joined(Names(dir.Folder()));
        }
    }
}

TEST(RemoveStaleTemporaries, RemovesWhatEndedWritersLeftAndKeepsLiveWritersFiles) {
    TempDir dir;
    // Other files, some named almost like temporary files.
    const std::set<std::string> others = {"results.nc", ".kelmar-0123456789ABCDEF.tmp", ".kelmar-0123.tmp",
                                          ".kelmar-0123456789abcdef.tmp.bak", "kelmar-0123456789abcdef.tmp"};
    for (const std::string& name : others) WriteBytes(dir.File(name), "keep");
    fs::create_directory(dir.Folder() / "sub");
    fs::create_symlink("sub", dir.Folder() / ".kelmar-1111111111111111.tmp");  // not a file a writer makes
    // What killed writers leave: a file, a library's file with its companion,
    // and a companion alone.
    const std::set<std::string> stale = {".kelmar-00000000000000aa.tmp", ".kelmar-00000000000000bb.tmp",
                                         ".kelmar-00000000000000bb.lock", ".kelmar-00000000000000cc.lock"};
    for (const std::string& name : stale) WriteBytes(dir.File(name), "left");

    std::set<std::string> kept = others;
    kept.insert(".kelmar-1111111111111111.tmp");
    kept.insert("sub");
    HelperWriter written(dir.Folder(), "written"), library(dir.Folder(), "library");
    ASSERT_TRUE(written.Ready && library.Ready);
    TemporaryFile own;  // this process's own, locked and registered
    ASSERT_EQ(own.Create(dir.Folder()), 0);
    std::set<std::string> live;
    for (const std::string& name : Names(dir.Folder()))
        if (!kept.contains(name) && !stale.contains(name)) live.insert(name);
    ASSERT_EQ(live.size(), 4u) << Joined(live);

    EXPECT_EQ(RemoveStaleTemporaries(dir.Folder()), stale.size());
    std::set<std::string> expected = kept;
    expected.insert(live.begin(), live.end());
    EXPECT_EQ(Names(dir.Folder()), expected) << "left:" << Joined(Names(dir.Folder()));

    // Killed outright, the helpers leave their files; now they are stale.
    EXPECT_EQ(written.End(SIGKILL), SIGKILL);
    EXPECT_EQ(library.End(SIGKILL), SIGKILL);
    EXPECT_EQ(RemoveStaleTemporaries(dir.Folder()), 3u);
    expected = kept;
    expected.insert(own.Name());
    EXPECT_EQ(Names(dir.Folder()), expected) << "left:" << Joined(Names(dir.Folder()));
}

TEST(TemporaryFile, ALibraryCanLockItsFileAndALinkNeverReplaces) {
    TempDir dir;
    {
        TemporaryFile byName;
        ASSERT_EQ(byName.Create(dir.Folder(), TemporaryFile::Kind::ByName), 0);
        // The netCDF library locks the file it writes (HDF5's file locking).
        const FileDescriptor library(::open(byName.Path().c_str(), O_RDWR | O_CLOEXEC));
        ASSERT_TRUE(library);
        EXPECT_EQ(::flock(library.Get(), LOCK_EX | LOCK_NB), 0) << "the temporary file's own lock keeps the library out";
    }
    WriteBytes(dir.File("manifest.txt"), "first");
    {
        TemporaryFile second;
        ASSERT_EQ(second.Create(dir.Folder()), 0);
        EXPECT_EQ(second.LinkTo("manifest.txt"), EEXIST);
    }
    EXPECT_EQ(Names(dir.Folder()), std::set<std::string>{"manifest.txt"});
    TemporaryFile nowhere;
    EXPECT_EQ(nowhere.Create(dir.Folder() / "missing"), ENOENT);
}

}  // namespace
}  // namespace kelmar
