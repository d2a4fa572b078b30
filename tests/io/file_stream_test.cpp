// Files written in pieces: the appending streams of a batch (cut back to
// what was recorded, never written through another name, one writer at a
// time), linking a finished stream under a table's name, and copying ranges.
#include <gtest/gtest.h>

#include <fstream>

#include <sys/stat.h>

#include "io/file_stream.h"
#include "io/io_test_support.h"

namespace kelmar {
namespace {

using testing::EntryCount;
using testing::ErrorText;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

ino_t Inode(const std::string& name) {
    struct stat info {};
    EXPECT_EQ(::stat(name.c_str(), &info), 0) << name;
    return info.st_ino;
}

TEST(AppendingFile, GoesOnAfterTheRecordedBytesAndCutsTheRest) {
    TempDir dir;
    const std::string name = dir.File("stream.csv");
    {
        AppendingFile stream(name, nullptr, "head\n");
        stream.Write("one\n");
        stream.Sync();
        EXPECT_EQ(stream.Size(), 9u);
    }
    std::ofstream(name, std::ios::app) << "two, never recorded";  // as a killed writer leaves it
    EXPECT_EQ(ReadBytes(name), "head\none\ntwo, never recorded");
    {
        const std::uint64_t keep = 9;
        AppendingFile stream(name, &keep, "head\n");
        EXPECT_EQ(stream.Size(), 9u);
        stream.Write("two\n");
        stream.Sync();
    }
    EXPECT_EQ(ReadBytes(name), "head\none\ntwo\n");

    const std::uint64_t tooMuch = 100;
    const std::string shorter = ErrorText([&] { AppendingFile(name, &tooMuch, ""); });
    EXPECT_NE(shorter.find("holds 13 bytes, fewer than the 100 recorded"), std::string::npos) << shorter;
    EXPECT_EQ(ReadBytes(name), "head\none\ntwo\n");
}

TEST(AppendingFile, NeverWritesThroughAnotherNameOfItsFile) {
    TempDir dir;
    const std::string name = dir.File("stream.csv"), table = dir.File("table.csv");
    WriteBytes(name, "head\none\ntwo\n");
    ASSERT_TRUE(LinkFileDurably(name, table));
    const std::uint64_t keep = 9;
    {
        AppendingFile stream(name, &keep, "head\n");  // cut and go on in a copy
        stream.Write("three\n");
        stream.Sync();
    }
    EXPECT_EQ(ReadBytes(name), "head\none\nthree\n");
    EXPECT_EQ(ReadBytes(table), "head\none\ntwo\n");
    EXPECT_NE(Inode(name), Inode(table));

    ASSERT_TRUE(LinkFileDurably(name, table));
    { AppendingFile fresh(name, nullptr, "new\n"); }  // made anew, not truncated
    EXPECT_EQ(ReadBytes(name), "new\n");
    EXPECT_EQ(ReadBytes(table), "head\none\nthree\n");
}

TEST(AppendingFile, OneWriterAtATime) {
    TempDir dir;
    const std::string name = dir.File("stream.csv");
    AppendingFile first(name, nullptr, "head\n");
    const std::uint64_t keep = 5;
    const std::string second = ErrorText([&] { AppendingFile(name, &keep, "head\n"); });
    EXPECT_NE(second.find("another process is writing it"), std::string::npos) << second;
    const std::string lock = dir.File("share.lock");
    FileLock held(lock);
    EXPECT_NE(ErrorText([&] { FileLock again(lock); }).find("Another process holds the file"), std::string::npos);
}

TEST(LinkFileDurably, GivesTheFileANameReplacingAnOldFileAndLeavesNothingElse) {
    TempDir dir;
    const std::string stream = dir.File("stream.csv"), table = dir.File("table.csv");
    WriteBytes(stream, "rows\n");
    WriteBytes(table, "an older table\n");
    ASSERT_TRUE(LinkFileDurably(stream, table));
    EXPECT_EQ(ReadBytes(table), "rows\n");
    EXPECT_EQ(Inode(stream), Inode(table)) << "the bytes were copied";
    ASSERT_TRUE(LinkFileDurably(stream, table));  // again, onto the same file
    EXPECT_EQ(EntryCount(dir.Folder()), 2) << "a temporary link was left";
}

TEST(DurableFileStream, CopiesRangesOfOtherFiles) {
    TempDir dir;
    const std::string source = dir.File("source.bin"), target = dir.File("target.csv");
    WriteBytes(source, "0123456789");
    {
        DurableFileStream out(target);
        out.Write("<");
        out.CopyRange(source, 2, 3);
        out.CopyRange(source, 9, 1);
        out.Write(">");
        out.Commit();
    }
    EXPECT_EQ(ReadBytes(target), "<2349>");
    const std::string beyond = ErrorText([&] {
        DurableFileStream out(target);
        out.CopyRange(source, 8, 5);
        out.Commit();
    });
    EXPECT_NE(beyond.find("\"" + source + "\": it ends before byte 13"), std::string::npos) << beyond;
    EXPECT_EQ(ReadBytes(target), "<2349>");
    EXPECT_EQ(EntryCount(dir.Folder()), 2);
}

}  // namespace
}  // namespace kelmar
