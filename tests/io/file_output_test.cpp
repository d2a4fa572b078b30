// The writer every output goes through: what it does with devices, FIFOs,
// standard output and links, the temporary file it works with, and what it
// leaves behind when it fails, races another writer or is interrupted.
#include <gtest/gtest.h>

#include <barrier>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "io/file_bytes.h"
#include "io/file_output.h"
#include "io/io_test_support.h"

namespace fs = std::filesystem;

namespace kelmar {
namespace {

using testing::EntryCount;
using testing::ErrorText;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

// A payload larger than a pipe's buffer (64 KiB on Linux), so that writing it
// into a FIFO has to wait for the reader.
std::string Payload(char fill, std::size_t size = 200'000) {
    std::string bytes(size, fill);
    for (std::size_t i = 0; i < size; i += 61) bytes[i] = '\n';
    return bytes;
}

std::string TypeOf(const std::string& name) {
    struct stat st {};
    if (lstat(name.c_str(), &st) != 0) return "absent";
    if (S_ISREG(st.st_mode)) return "file";
    if (S_ISLNK(st.st_mode)) return "link";
    if (S_ISCHR(st.st_mode)) return "character device";
    if (S_ISBLK(st.st_mode)) return "block device";
    if (S_ISFIFO(st.st_mode)) return "FIFO";
    if (S_ISSOCK(st.st_mode)) return "socket";
    if (S_ISDIR(st.st_mode)) return "folder";
    return "other";
}

// Everything a FIFO delivers while `write` runs. The test holds the FIFO
// open for writing too, so that the reader never waits for a writer that
// does not come and sees the end once `write` and the test have closed it.
template <typename Write>
std::string ReadFifoWhile(const std::string& fifo, Write write) {
    const int keepOpen = open(fifo.c_str(), O_RDWR | O_CLOEXEC);
    EXPECT_GE(keepOpen, 0) << fifo;
    const int reader = open(fifo.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_GE(reader, 0) << fifo;
    std::string received;
    std::thread drain([&] {
        char buffer[4096];
        ssize_t n;
        while ((n = read(reader, buffer, sizeof buffer)) > 0) received.append(buffer, static_cast<std::size_t>(n));
    });
    write();
    close(keepOpen);
    drain.join();
    close(reader);
    return received;
}

// Runs `action` with the process's standard output going to the file
// descriptor `target`, and gives it back afterwards.
template <typename Action>
void WithStandardOutput(int target, Action action) {
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    ASSERT_GE(saved, 0);
    dup2(target, STDOUT_FILENO);
    action();
    std::fflush(stdout);
    std::clearerr(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
}

// Runs `action` inside `folder`, so that a relative name lands there.
template <typename Action>
void InFolder(const fs::path& folder, Action action) {
    const fs::path saved = fs::current_path();
    fs::current_path(folder);
    action();
    fs::current_path(saved);
}

TEST(WriteFileAtomically, StreamsIntoDevicesAndFifosWithoutReplacingThem) {
    TempDir dir;
    const std::string bytes = Payload('d');
    // A private null device in the test's own folder: the system's own
    // devices are never handed to the writer.
    const std::string null = dir.File("null");
    if (mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) GTEST_SKIP() << "mknod needs privileges";
    fs::create_symlink(null, dir.File("null-link"));
    const std::string fifo = dir.File("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    fs::create_symlink("pipe", dir.File("pipe-link"));  // a relative link

    for (const std::string name : {"null", "null-link"}) {
        EXPECT_EQ(ErrorText([&] { WriteFileAtomically(dir.File(name), bytes); }), "") << name;
    }
    for (const std::string name : {"pipe", "pipe-link"}) {
        const std::string received = ReadFifoWhile(fifo, [&] {
            EXPECT_EQ(ErrorText([&] { WriteFileAtomically(dir.File(name), bytes); }), "") << name;
        });
        EXPECT_TRUE(received == bytes) << name << ": the FIFO delivered " << received.size() << " of "
                                       << bytes.size() << " bytes";
    }
    EXPECT_EQ(TypeOf(null), "character device");
    EXPECT_EQ(TypeOf(fifo), "FIFO");
    EXPECT_EQ(TypeOf(dir.File("null-link")), "link");
    EXPECT_EQ(TypeOf(dir.File("pipe-link")), "link");
    EXPECT_EQ(EntryCount(dir.Folder()), 4);
}

TEST(WriteFileAtomically, ReplacesTheFinalTargetOfALinkAndKeepsTheLinks) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> links;  // link name, what it points to
        bool targetExists;
        std::string written;  // the name through which the writer is called
        std::string target;   // the file that must hold the bytes
    };
    const std::vector<Case> cases = {
        {"link to a file", {{"link.cld", "real.cld"}}, true, "link.cld", "real.cld"},
        {"chain of links across folders",
         {{"first.cld", "sub/second.cld"}, {"sub/second.cld", "../real.cld"}},
         true,
         "first.cld",
         "real.cld"},
        {"dangling link", {{"link.csv", "sub/new.csv"}}, false, "link.csv", "sub/new.csv"},
        {"link to a folder", {{"folder-link", "sub"}}, false, "folder-link/new.csv", "sub/new.csv"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        fs::create_directory(dir.File("sub"));
        if (c.targetExists) WriteBytes(dir.File(c.target), "old");
        for (const auto& [link, target] : c.links) fs::create_symlink(target, dir.File(link));
        const int entries = EntryCount(dir.Folder()) + EntryCount(dir.File("sub"));

        EXPECT_EQ(ErrorText([&] { WriteFileAtomically(dir.File(c.written), "new"); }), "") << c.what;
        EXPECT_EQ(TypeOf(dir.File(c.target)), "file") << c.what;
        if (TypeOf(dir.File(c.target)) == "file") {
            EXPECT_EQ(ReadBytes(dir.File(c.target)), "new") << c.what;
        }
        for (const auto& [link, target] : c.links) EXPECT_EQ(TypeOf(dir.File(link)), "link") << c.what << ": " << link;
        EXPECT_EQ(EntryCount(dir.Folder()) + EntryCount(dir.File("sub")), entries + (c.targetExists ? 0 : 1))
            << c.what << ": a temporary file was left or a link was replaced";
    }
}

TEST(WriteFileAtomically, RefusesWhatItCannotWriteNamingFileAndReason) {
    struct Case {
        const char* what;
        std::string name;        // relative to the test's folder
        std::string reason;      // the operating system's text the message must hold
        std::string typeBefore;  // what stands there, and must still stand there
    };
    const std::vector<Case> cases = {
        {"looping links", "loop-a", "Too many levels of symbolic links", "link"},
        {"folder", "folder", "Is a directory", "folder"},
        {"missing folder", "missing/out.csv", "No such file or directory", "absent"},
        {"block device", "block", "not a regular file, a character device or a FIFO", "block device"},
        {"socket", "socket", "not a regular file, a character device or a FIFO", "socket"},
        {"file standing for a folder", "plain/out.csv", "Not a directory", "absent"},
    };
    TempDir dir;
    fs::create_symlink("loop-b", dir.File("loop-a"));
    fs::create_symlink("loop-a", dir.File("loop-b"));
    fs::create_directory(dir.File("folder"));
    WriteBytes(dir.File("folder/inside"), "kept");
    WriteBytes(dir.File("plain"), "kept");
    const bool haveBlock = mknod(dir.File("block").c_str(), S_IFBLK | 0600, makedev(7, 200)) == 0;
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketName = dir.File("socket");
    ASSERT_LT(socketName.size(), sizeof address.sun_path);
    socketName.copy(address.sun_path, socketName.size());
    ASSERT_EQ(bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    const int entries = EntryCount(dir.Folder());

    for (const Case& c : cases) {
        if (c.typeBefore == "block device" && !haveBlock) continue;
        const std::string name = dir.File(c.name);
        const std::string error = ErrorText([&] { WriteFileAtomically(name, "x"); });
        EXPECT_NE(error.find("\"" + name + "\""), std::string::npos) << c.what << ": " << error;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
        EXPECT_EQ(TypeOf(name), c.typeBefore) << c.what;
    }
    EXPECT_EQ(ReadBytes(dir.File("folder/inside")), "kept");
    EXPECT_EQ(ReadBytes(dir.File("plain")), "kept");
    EXPECT_EQ(EntryCount(dir.Folder()), entries) << "a temporary file was left behind";
    close(sock);
}

TEST(WriteFileAtomically, KeepsModeAndOwnerOfTheFileItReplaces) {
    TempDir dir;
    const std::string target = dir.File("read-only.sit");
    WriteBytes(target, "old");
    ASSERT_EQ(chmod(target.c_str(), 0444), 0);
    const bool root = geteuid() == 0;
    constexpr uid_t OTHER_USER = 65534;  // "nobody" on Linux systems
    constexpr gid_t OTHER_GROUP = 65534;
    if (root) {
        ASSERT_EQ(chown(target.c_str(), OTHER_USER, OTHER_GROUP), 0);
    }

    WriteFileAtomically(target, "new");
    struct stat st {};
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(ReadBytes(target), "new");
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    if (root) {
        EXPECT_EQ(st.st_uid, OTHER_USER);
        EXPECT_EQ(st.st_gid, OTHER_GROUP);
    }
    EXPECT_EQ(EntryCount(dir.Folder()), 1);
}

TEST(WriteFileAtomically, DashIsStandardOutputAndItsErrorsAreReported) {
    TempDir dir;
    const std::string bytes = Payload('s');
    const std::string captured = dir.File("captured");
    const int capture = open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(capture, 0);
    InFolder(dir.Folder(), [&] {
        WithStandardOutput(capture, [&] { EXPECT_EQ(ErrorText([&] { WriteFileAtomically("-", bytes); }), ""); });
    });
    close(capture);
    EXPECT_TRUE(ReadBytes(captured) == bytes) << "standard output received " << ReadBytes(captured).size()
                                              << " of " << bytes.size() << " bytes";
    EXPECT_EQ(TypeOf(dir.File("-")), "absent");

    // The file standard output is appended to, named by the program (as
    // /dev/stdout would reach it): written through standard output after
    // what the file held, not replaced.
    const std::string log = dir.File("log.csv");
    WriteBytes(log, "earlier lines\n");
    const int append = open(log.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(append, 0);
    struct stat before {}, after {};
    ASSERT_EQ(stat(log.c_str(), &before), 0);
    WithStandardOutput(append, [&] { EXPECT_EQ(ErrorText([&] { WriteFileAtomically(log, bytes); }), ""); });
    close(append);
    ASSERT_EQ(stat(log.c_str(), &after), 0);
    EXPECT_TRUE(ReadBytes(log) == "earlier lines\n" + bytes) << "the log holds " << ReadBytes(log).size() << " bytes";
    EXPECT_EQ(after.st_ino, before.st_ino) << "the log was replaced";

    // A full device behind standard output: the failure is reported with
    // the operating system's reason.
    const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
    if (full < 0) GTEST_SKIP() << "no /dev/full";
    std::string error;
    InFolder(dir.Folder(), [&] {
        WithStandardOutput(full, [&] { error = ErrorText([&] { WriteFileAtomically("-", bytes); }); });
    });
    close(full);
    EXPECT_NE(error.find("standard output"), std::string::npos) << error;
    EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
    EXPECT_EQ(TypeOf(dir.File("-")), "absent");
}

TEST(WriteFileAtomically, TheLongestLegalNameCanBeWritten) {
    TempDir dir;
    for (const std::size_t length : {251u, 255u}) {  // 255 bytes: the longest name Linux file systems take
        const std::string target = dir.File(std::string(length - 4, 'n') + ".csv");
        EXPECT_EQ(ErrorText([&] { WriteFileAtomically(target, "bytes"); }), "") << length << "-byte name";
        EXPECT_EQ(TypeOf(target), "file") << length << "-byte name";
    }
    EXPECT_EQ(EntryCount(dir.Folder()), 2);
}

TEST(WriteFileAtomically, ConcurrentWritersLeaveExactlyOneWritersBytes) {
    constexpr int WRITERS = 8;
    constexpr int ROUNDS = 25;
    TempDir dir;
    const std::string target = dir.File("shared.csv");
    std::vector<std::string> contents;
    for (int w = 0; w < WRITERS; ++w) contents.push_back(Payload(static_cast<char>('a' + w), 100'000 + 1000 * w));

    for (int round = 1; round <= ROUNDS; ++round) {
        std::barrier start(WRITERS);
        std::vector<std::string> errors(WRITERS);
        std::vector<std::thread> writers;
        for (int w = 0; w < WRITERS; ++w)
            writers.emplace_back([&, w] {
                start.arrive_and_wait();
                errors[w] = ErrorText([&] { WriteFileAtomically(target, contents[w]); });
            });
        for (auto& writer : writers) writer.join();
        for (int w = 0; w < WRITERS; ++w) EXPECT_EQ(errors[w], "") << "round " << round << ", writer " << w;
        const std::string result = ReadBytes(target);
        const bool oneWriters = std::find(contents.begin(), contents.end(), result) != contents.end();
        EXPECT_TRUE(oneWriters) << "round " << round << ": " << result.size()
                                << " bytes that are no single writer's table";
        EXPECT_EQ(EntryCount(dir.Folder()), 1) << "round " << round << ": temporary files left";
        if (!oneWriters || EntryCount(dir.Folder()) != 1) break;
    }
}

// A writer stopped by SIGINT, SIGTERM or SIGHUP while its temporary file
// exists removes it and ends as that signal ends a process.
TEST(WriteFileAtomically, AnInterruptedWriterLeavesNoTemporaryFile) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        TempDir dir;
        const std::string target = dir.File("big.csv");
        WriteBytes(target, "old");
        bool interrupted = false;
        // A write that ends before the signal arrives proves nothing; a
        // larger one is tried then.
        for (std::size_t size = 64u << 20; !interrupted && size <= (1024u << 20); size *= 2) {
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                try {
                    WriteFileAtomically(target, std::string(size, 'x'));
                } catch (...) {
                    _exit(3);
                }
                _exit(0);
            }
            // Wait for the temporary file to appear, then interrupt.
            int status = 0;
            pid_t ended = 0;
            while (EntryCount(dir.Folder()) < 2 && (ended = waitpid(child, &status, WNOHANG)) == 0) usleep(200);
            if (ended == 0) {
                kill(child, signal);
                ASSERT_EQ(waitpid(child, &status, 0), child);
            }
            interrupted = WIFSIGNALED(status);
            if (interrupted) {
                EXPECT_EQ(WTERMSIG(status), signal);
            } else {
                WriteBytes(target, "old");
            }
        }
        ASSERT_TRUE(interrupted) << "every write ended before signal " << signal << " arrived";
        EXPECT_EQ(EntryCount(dir.Folder()), 1) << "signal " << signal << " left a temporary file";
        EXPECT_EQ(ReadBytes(target), "old");
    }
}

// The writer's cleanup on signals leaves the program's own handling of them
// alone: a handler installed before still runs (and the process goes on), an
// ignored signal stays ignored.
TEST(WriteFileAtomically, SignalsKeepTheHandlingTheProgramGaveThem) {
    static volatile sig_atomic_t handled = 0;
    const struct {
        const char* what;
        void (*handler)(int);
        int signal;
    } cases[] = {
        {"own handler", [](int) { handled = 1; }, SIGTERM},
        {"ignored", SIG_IGN, SIGHUP},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::signal(c.signal, c.handler);
            WriteFileAtomically(dir.File("out.csv"), "bytes");  // installs the writer's handler
            raise(c.signal);
            _exit(c.handler == SIG_IGN || handled == 1 ? 0 : 4);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << c.what << ": " << (WIFSIGNALED(status) ? "ended by the signal" : "the handler did not run");
    }
}

TEST(SameFile, FollowsLinksHardLinksAndFolderNames) {
    TempDir dir;
    WriteBytes(dir.File("a.wed"), "a");
    WriteBytes(dir.File("b.wed"), "b");
    fs::create_directory(dir.File("sub"));
    fs::create_hard_link(dir.File("a.wed"), dir.File("sub/hard.wed"));
    fs::create_symlink("../a.wed", dir.File("sub/soft.wed"));
    fs::create_symlink("sub", dir.File("folder-link"));
    fs::create_directory(dir.File("sub/inner"));
    fs::create_symlink("sub/inner", dir.File("inner-link"));
    fs::create_symlink("new.csv", dir.File("dangling"));
    fs::create_symlink("loop-b", dir.File("loop-a"));
    fs::create_symlink("loop-a", dir.File("loop-b"));
    struct Case {
        std::string a, b;  // relative to the test's folder, except "-"
        bool same;
    };
    const std::vector<Case> cases = {
        {"a.wed", "a.wed", true},
        {"a.wed", "sub/../a.wed", true},
        {"a.wed", "sub/hard.wed", true},
        {"a.wed", "sub/soft.wed", true},
        {"sub/soft.wed", "folder-link/hard.wed", true},
        {"new.csv", "dangling", true},            // neither exists yet: the link would create new.csv
        // ".." after a link leaves the folder the link leads to, not the link's own folder
        {"sub/new.csv", "inner-link/../new.csv", true},
        {"new.csv", "inner-link/../new.csv", false},
        {"sub/new.csv", "folder-link/new.csv", true},
        {"a.wed", "b.wed", false},
        {"a.wed", "new.csv", false},
        {"new.csv", "other.csv", false},
        {"loop-a", "loop-b", false},
        {"loop-a", "loop-a", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SameFile(dir.File(c.a), dir.File(c.b)), c.same) << c.a << " and " << c.b;
        EXPECT_EQ(SameFile(dir.File(c.b), dir.File(c.a)), c.same) << c.b << " and " << c.a;
    }
    EXPECT_TRUE(SameFile("-", "-"));
    EXPECT_FALSE(SameFile("-", dir.File("-")));
    InFolder(dir.Folder(), [&] {
        EXPECT_TRUE(SameFile("a.wed", dir.File("a.wed")));
        EXPECT_TRUE(SameFile("./new.csv", dir.File("new.csv")));
        EXPECT_FALSE(SameFile("-", "./-"));
    });
}

}  // namespace
}  // namespace kelmar
