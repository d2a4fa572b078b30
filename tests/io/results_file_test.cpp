#include "io/results_file.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "io/io_test_support.h"

namespace kelmar {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

// A table whose first `years` years have their month records (Year set).
std::unique_ptr<TResultsTable> TableWithYears(int years) {
    auto table = std::make_unique<TResultsTable>();
    for (int i = 1; i <= years; ++i)
        for (int m = 1; m <= 12; ++m) {
            table->At(i, m).Year = i;
            table->At(i, m).Month = m;
        }
    return table;
}

int LineCount(const std::string& bytes) {
    int n = 0;
    for (std::size_t p = 0; (p = bytes.find("\r\n", p)) != std::string::npos; p += 2) ++n;
    return n;
}

TEST(WriteResultsFile, WritesFixedWidthFieldsAndEndsEveryLine) {
    auto table = TableWithYears(1);
    TResultRecord& january = table->At(1, 1);
    january.T_ff = -12.34;
    january.T_ms = 0.5;
    january.W_ff_vol = 45.23;
    january.W_ms_vol = 30.06;
    TResultRecord& february = table->At(1, 2);
    february.T_ff = -100.25;
    february.T_ms = 12345.6;
    february.W_ff_vol = -0.04;
    february.W_ms_vol = 0.25;
    table->At(1, 0).T_ff = 99;  // the annual record is not written
    TempDir dir;
    WriteResultsFile(dir.File("out.csv"), *table, 1);

    std::string expected =
        "Step, Tlit,  Tsoil,  Mlit,  Msoil\r\n"
        "     1, -12.3,   0.5,  45.2,  30.1\r\n"
        "     2,-100.3,12345.6,  -0.0,   0.3\r\n";
    for (const char* step : {"3", "4", "5", "6", "7", "8", "9", "10", "11", "12"})
        expected += std::string(6 - std::string(step).size(), ' ') + step + ",   0.0,   0.0,   0.0,   0.0\r\n";
    EXPECT_EQ(ReadBytes(dir.File("out.csv")), expected);
}

TEST(WriteResultsFile, WritesTheLeadingPresentYearsUpToTheYearCount) {
    const struct {
        int yearsInTable;
        int yearCount;
        int lines;
        const char* lastStep;
    } cases[] = {
        {500, 3, 37, "    36,"},
        {2, 3, 25, "    24,"},  // year index 3 has no January record
        {500, 500, 6001, "  6000,"},
        {500, 600, 6001, "  6000,"},  // never beyond the table
    };
    for (const auto& c : cases) {
        auto table = TableWithYears(c.yearsInTable);
        TempDir dir;
        WriteResultsFile(dir.File("out.csv"), *table, c.yearCount);
        const std::string bytes = ReadBytes(dir.File("out.csv"));
        EXPECT_EQ(LineCount(bytes), c.lines) << "year count " << c.yearCount;
        EXPECT_EQ(bytes.substr(bytes.rfind("\r\n", bytes.size() - 3) + 2, 7), c.lastStep) << "year count " << c.yearCount;
    }
}

TEST(WriteResultsFile, WithNoYearToWriteLeavesTheFileAlone) {
    TempDir dir;
    WriteBytes(dir.File("old.csv"), "old contents");
    WriteResultsFile(dir.File("old.csv"), *TableWithYears(5), 0);
    EXPECT_EQ(ReadBytes(dir.File("old.csv")), "old contents");
    WriteResultsFile(dir.File("new.csv"), *TableWithYears(0), 3);
    EXPECT_FALSE(std::filesystem::exists(dir.File("new.csv")));
}

}  // namespace
}  // namespace kelmar
