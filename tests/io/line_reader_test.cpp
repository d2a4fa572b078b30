#include "io/line_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kelmar {
namespace {

std::vector<std::string> AllLines(const std::string& bytes) {
    LineReader reader(bytes);
    std::vector<std::string> lines;
    while (!reader.AtEnd()) lines.push_back(reader.ReadLine());
    return lines;
}

TEST(LineReader, SplitsAtLfAndCrLfDropsLoneCrAndStopsAtEndOfFileMark) {
    const struct {
        std::string bytes;
        std::vector<std::string> lines;
    } cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\nb", {"a", "b"}},
        {"a\nb\n", {"a", "b"}},
        {"a\r\n\r\n", {"a", ""}},
        {"\n\n", {"", ""}},
        {"a\rb\r\nc\r", {"ab", "c"}},
        {"a\r\r\nb", {"a", "b"}},
        {"a\r\nb\x1A\r\nnot read", {"a", "b"}},
        {"\x1A" "a\r\n", {}},
        {std::string("a\0b\n", 4), {std::string("a\0b", 3)}},
    };
    for (const auto& c : cases) EXPECT_EQ(AllLines(c.bytes), c.lines) << "bytes '" << c.bytes << "'";
}

TEST(LineReader, ReadingAtTheEndGivesEmptyLines) {
    LineReader reader("only\r\n");
    EXPECT_EQ(reader.LineNumber(), 0);
    EXPECT_EQ(reader.ReadLine(), "only");
    EXPECT_EQ(reader.LineNumber(), 1);
    EXPECT_TRUE(reader.AtEnd());
    EXPECT_EQ(reader.ReadLine(), "");
    EXPECT_EQ(reader.ReadLine(), "");
    EXPECT_TRUE(reader.AtEnd());
    EXPECT_EQ(reader.LineNumber(), 3);  // the lines an error names are the ones the reader took
}

}  // namespace
}  // namespace kelmar
