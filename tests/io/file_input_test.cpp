// Reading a data file within the limit of its kind, and the reason given
// when the system cannot read it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

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

// Sources without an end: before, /dev/zero was read until memory ran out.
TEST(ReadDataFile, StopsAnEndlessSourceAtTheLimit) {
    TempDir dir;
    if (!fs::exists("/dev/zero")) GTEST_SKIP() << "no /dev/zero";
    fs::create_symlink("/dev/zero", dir.File("zero.wed"));
    EXPECT_EQ(ErrorText([&] { Read(dir.File("zero.wed"), {"test file", 2 * MIB}); }),
              TooLarge(dir.File("zero.wed"), "2 MiB"));

    // A pipe whose writer never stops; the writer ends when the reader closes it.
    const std::string fifo = dir.File("pipe.wed");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const auto previousHandler = std::signal(SIGPIPE, SIG_IGN);
    std::thread writer([&] {
        const int fd = open(fifo.c_str(), O_WRONLY);
        const std::string line = "1961,1,-14.2,23.1,-2.5\r\n";
        while (fd >= 0 && write(fd, line.data(), line.size()) > 0) {
        }
        if (fd >= 0) close(fd);
    });
    const std::string error = ErrorText([&] { Read(fifo); });
    writer.join();
    std::signal(SIGPIPE, previousHandler);
    EXPECT_EQ(error, TooLarge(fifo, "1000 bytes"));
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
