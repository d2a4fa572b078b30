#include "io/file_bytes.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>

#include <sys/resource.h>

#include "io/io_test_support.h"
#include "model/errors.h"
#include "model/model_fixtures.h"

namespace fs = std::filesystem;

namespace kelmar {
namespace {

using testing::EntryCount;
using testing::ReadBytes;
using testing::RecordingNotifier;
using testing::TempDir;
using testing::WriteBytes;

// The message of the KelmarError `write` raises, or "" when it raises none.
template <typename Write>
std::string ErrorOf(Write write) {
    try {
        write();
    } catch (const KelmarError& e) {
        return e.what();
    }
    return "";
}

TEST(ReadDataFile, GivesTheBytesOrWarnsWithTheName) {
    TempDir dir;
    const std::string bytes("a\r\n\0\x1A\xF1", 6);
    WriteBytes(dir.File("data"), bytes);
    RecordingNotifier notifier;
    EXPECT_EQ(ReadDataFile(dir.File("data"), "File (%s) not found.", {"test file", MIB}, notifier), bytes);
    EXPECT_TRUE(notifier.warnings.empty());

    EXPECT_FALSE(ReadDataFile(dir.File("none"), "File (%s) not found.", {"test file", MIB}, notifier));
    fs::create_directory(dir.File("folder"));
    EXPECT_FALSE(ReadDataFile(dir.File("folder"), "File (%s) not found.", {"test file", MIB}, notifier));
    EXPECT_EQ(notifier.warnings,
              (std::vector<std::string>{"File (" + dir.File("none") + ") not found.",
                                        "\"" + dir.File("folder") + "\" is a folder, not a file; name a file in it."}));
}

TEST(WriteFileAtomically, CreatesAndReplacesLeavingNothingElse) {
    TempDir dir;
    const std::string target = dir.File("out.sit");
    WriteFileAtomically(target, "first");
    EXPECT_EQ(ReadBytes(target), "first");
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
    WriteFileAtomically(target, std::string("se\0cond", 7));
    EXPECT_EQ(ReadBytes(target), std::string("se\0cond", 7));
    EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(EntryCount(dir.Folder()), 1);
}

TEST(WriteFileAtomically, WritesThroughALinkAndKeepsIt) {
    TempDir dir;
    WriteBytes(dir.File("real.cld"), "old");
    fs::create_symlink(dir.File("real.cld"), dir.File("link.cld"));
    WriteFileAtomically(dir.File("link.cld"), "new");
    EXPECT_TRUE(fs::is_symlink(dir.File("link.cld")));
    EXPECT_EQ(ReadBytes(dir.File("real.cld")), "new");
}

TEST(WriteFileAtomically, AFailedWriteLeavesTheOldFileAndNamesIt) {
    TempDir dir;
    const std::string missingFolder = dir.File("missing") + "/out.csv";
    EXPECT_NE(ErrorOf([&] { WriteFileAtomically(missingFolder, "x"); }).find("\"" + missingFolder + "\""),
              std::string::npos);
    EXPECT_FALSE(fs::exists(missingFolder));

    // A folder in the target's place cannot be replaced by a file.
    const std::string folderTarget = dir.File("taken.wed");
    fs::create_directory(folderTarget);
    WriteBytes(folderTarget + "/inside", "kept");
    EXPECT_NE(ErrorOf([&] { WriteFileAtomically(folderTarget, "x"); }).find(folderTarget), std::string::npos);
    EXPECT_EQ(ReadBytes(folderTarget + "/inside"), "kept");
    EXPECT_EQ(EntryCount(dir.Folder()), 1);
}

TEST(WriteFileAtomically, RunningOutOfSpaceMidwayLeavesTheOldFile) {
    TempDir dir;
    const std::string target = dir.File("results.csv");
    WriteBytes(target, "good old contents");

    // Limit the size of any file this process writes, as a full disk would;
    // the signal a process gets for passing the limit is ignored so that the
    // write itself fails.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const std::string error = ErrorOf([&] { WriteFileAtomically(target, std::string(1 << 20, 'x')); });
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_NE(error.find(target), std::string::npos) << error;
    EXPECT_EQ(ReadBytes(target), "good old contents");
    EXPECT_EQ(EntryCount(dir.Folder()), 1);
}

}  // namespace
}  // namespace kelmar
