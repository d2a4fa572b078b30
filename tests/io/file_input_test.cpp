// Reading a data file within the limit of its kind, and the reason given
// when the system cannot read it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "io/file_bytes.h"
#include "io/io_test_support.h"
#include "model/model_fixtures.h"

namespace fs = std::filesystem;

namespace kelmar {
namespace {

using testing::ErrorText;
using testing::RecordingNotifier;
using testing::TempDir;
using testing::WriteBytes;

constexpr DataFileLimit SMALL = {"test file", 1000};

std::optional<std::string> Read(const std::string& fileName, const DataFileLimit& limit = SMALL) {
    RecordingNotifier notifier;
    return ReadDataFile(fileName, "File (%s) not found.", limit, notifier);
}

std::string TooLarge(const std::string& fileName, const std::string& size) {
    return "The file \"" + fileName + "\" holds more than " + size + ", far more than any test file; it was not read.";
}

TEST(ReadDataFile, ReadsUpToTheLimitAndRefusesAByteMore) {
    TempDir dir;
    WriteBytes(dir.File("full"), std::string(1000, 'x'));
    WriteBytes(dir.File("over"), std::string(1001, 'x'));
    EXPECT_EQ(Read(dir.File("full")), std::string(1000, 'x'));
    EXPECT_EQ(ErrorText([&] { Read(dir.File("over")); }), TooLarge(dir.File("over"), "1000 bytes"));
}

// Before, a FIFO without a writer blocked the reader (and a whole batch)
// forever, and /dev/zero was read up to the limit; no special file is an
// input, and none is waited on.
TEST(ReadDataFile, RefusesEverySpecialFileWithoutWaiting) {
    TempDir dir;
    const std::string fifo = dir.File("pipe.wed");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketName = dir.File("socket.sit");
    ASSERT_LT(socketName.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, socketName.c_str());
    ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    fs::create_symlink("/dev/null", dir.File("null.cld"));
    struct Case {
        std::string Name, Kind;
    };
    const std::vector<Case> cases = {{fifo, "is not a regular file but a FIFO (named pipe)"},
                                     {dir.File("null.cld"), "is not a regular file but a character device"},
                                     {socketName, "is not a regular file but a socket"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string message = ErrorText([&] { Read(c.Name); });
        EXPECT_NE(message.find("\"" + c.Name + "\""), std::string::npos) << message;
        EXPECT_NE(message.find(c.Kind), std::string::npos) << message;
    }
    close(listener);
}

// The standard input, named as /dev/stdin, is read whatever it is: a pipe
// whose writer never stops ends at the limit.
TEST(ReadDataFile, ReadsTheStandardInputAndStopsAnEndlessOneAtTheLimit) {
    const auto previousHandler = std::signal(SIGPIPE, SIG_IGN);
    const int savedInput = dup(0);
    for (bool endless : {false, true}) {
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        ASSERT_EQ(dup2(ends[0], 0), 0);
        close(ends[0]);
        std::thread writer([&] {
            const std::string line = "1961,1,-14.2,23.1,-2.5\r\n";
            do {
                if (write(ends[1], line.data(), line.size()) <= 0) break;
            } while (endless);
            close(ends[1]);
        });
        const std::string error = ErrorText([&] {
            if (!endless) EXPECT_EQ(Read("/dev/stdin"), "1961,1,-14.2,23.1,-2.5\r\n");
            else Read("/dev/stdin");
        });
        dup2(savedInput, 0);  // closes the pipe's reading end: the writer stops
        writer.join();
        EXPECT_EQ(error, endless ? TooLarge("/dev/stdin", "1000 bytes") : "");
    }
    close(savedInput);
    std::signal(SIGPIPE, previousHandler);
}

// Before, the library's own text reached the user: "basic_filebuf::underflow
// error reading the file: Input/output error".
TEST(ReadDataFile, ANamedFileTheSystemCannotReadGivesTheSystemsReason) {
    TempDir dir;
    // Reading the process's memory at address 0 fails with EIO.
    if (!fs::exists("/proc/self/mem")) GTEST_SKIP() << "no /proc/self/mem";
    fs::create_symlink("/proc/self/mem", dir.File("mem.sit"));
    EXPECT_EQ(ErrorText([&] { Read(dir.File("mem.sit")); }),
              "Cannot read the file \"" + dir.File("mem.sit") + "\": Input/output error.");

    // Without permission (root reads anything, so only when not root).
    WriteBytes(dir.File("locked.cld"), "VAR VALUE");
    fs::permissions(dir.File("locked.cld"), fs::perms::none);
    if (geteuid() != 0) {
        EXPECT_EQ(ErrorText([&] { Read(dir.File("locked.cld")); }),
                  "Cannot read the file \"" + dir.File("locked.cld") + "\": Permission denied.");
    }
}

}  // namespace
}  // namespace kelmar
