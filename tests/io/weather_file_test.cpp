#include "io/weather_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "app/presentation/grid_texts.h"
#include "app/save_commands.h"
#include "io/io_test_support.h"
#include "model/errors.h"
#include "model/model_fixtures.h"

namespace kelmar {
namespace {

using testing::ReadBytes;
using testing::RecordingNotifier;
using testing::TempDir;
using testing::WriteBytes;

const std::string COLUMNS = "#\r\nYear,Month,Tair,Prec,Tsoil\r\n";

// `count` month lines from January of `firstYear` on; the values encode the
// position: Tair = year index, Prec = month, Tsoil = 100 + month.
std::string MonthLines(int firstYear, int count) {
    std::string lines;
    for (int k = 0; k < count; ++k) {
        const int month = k % 12 + 1;
        lines += std::to_string(firstYear + k / 12) + "," + std::to_string(month) + "," + std::to_string(k / 12 + 1) +
                 "," + std::to_string(month) + "," + std::to_string(100 + month) + "\r\n";
    }
    return lines;
}

std::unique_ptr<TModel> FreshModel() { return std::make_unique<TModel>(); }

// The message of the KelmarError the read raises, or "" when it raises none.
std::string ReadError(TModel& model, const std::string& bytes) {
    return testing::ErrorText([&] { ReadWeatherBytes(model, bytes); });
}

TEST(WriteWeatherFile, WritesTheInputWeatherGridsColumnsInFileOrder) {
    auto results = std::make_unique<TResultsTable>();
    TResultRecord& january = results->At(1, 1);
    january.Year = 1990;
    january.Month = 1;
    january.Tair = -12.3;
    january.Prec = 25.4;
    january.Tsoil = -2.1;
    TempDir dir;
    WriteWeatherFile(dir.File("none.wed"), WeatherRowTextsOfGrid(InputWeatherGridTexts(*results, 1), 0));
    EXPECT_EQ(ReadBytes(dir.File("none.wed")), "#\r\nYear,Month,Tair,Prec,Tsoil");

    WriteWeatherFile(dir.File("one.wed"), WeatherRowTextsOfGrid(InputWeatherGridTexts(*results, 1), 1));
    std::string expected = COLUMNS + "1990,1,-12.30,25.40,-2.10";
    for (int m = 2; m <= 12; ++m) expected += "\r\n,,,,";  // the rows of absent months are empty
    EXPECT_EQ(ReadBytes(dir.File("one.wed")), expected);
}

TEST(ReadWeatherFile, ReadsBackWhatWasWrittenAtTwoDecimals) {
    auto model = std::make_unique<TModel>();
    for (int i = 1; i <= 3; ++i)
        for (int m = 1; m <= 12; ++m) {
            TResultRecord& r = model->Results.At(i, m);
            r.Year = 1949 + i;
            r.Month = m;
            r.Tair = -10.004 + i * m;
            r.Prec = 33.333 * m;
            r.Tsoil = 0.125 * m - 1;
        }
    TempDir dir;
    WriteWeatherFile(dir.File("weather.wed"), WeatherRowTextsOfGrid(InputWeatherGridTexts(model->Results, 3), 3));

    auto read = FreshModel();
    RecordingNotifier notifier;
    ASSERT_TRUE(ReadWeatherFile(*read, dir.File("weather"), notifier));  // read as weather.wed
    EXPECT_EQ(read->Settings.YearBeg, 1950);
    EXPECT_EQ(read->Settings.YearEnd, 1952);
    for (int i = 1; i <= 3; ++i)
        for (int m = 1; m <= 12; ++m) {
            const TResultRecord& r = model->Results.At(i, m);
            EXPECT_NEAR(read->Weather.Tair[i][m], r.Tair, 0.005 + 1e-12) << "year " << i << " month " << m;
            EXPECT_NEAR(read->Weather.Prec[i][m], r.Prec, 0.005 + 1e-12) << "year " << i << " month " << m;
            EXPECT_NEAR(read->Weather.Tsoil[i][m], r.Tsoil, 0.005 + 1e-12) << "year " << i << " month " << m;
        }
    EXPECT_EQ(read->Weather.Tair[4][1], MISSING_VALUE);
}

TEST(ReadWeatherBytes, TheFirstDatedLineFixesTheYearsAndCompleteYearsTheEnd) {
    const struct {
        const char* what;
        std::string lines;
        int yearBeg;
        int yearEnd;
    } cases[] = {
        {"ten years", MonthLines(1950, 120), 1950, 1959},
        {"five months more", MonthLines(1950, 125), 1950, 1959},
        {"five months fewer", MonthLines(1950, 115), 1950, 1958},
        {"no data lines", "", 0, -1},
        {"earlier years after the first line", MonthLines(1960, 12) + MonthLines(1955, 60), 1960, 1960},
        {"months 0 and 13", MonthLines(1950, 11) + "1950,13,1,1,1\r\n1950,0,1,1,1\r\n", 1950, 1949},
        {"a month given twice counts twice", MonthLines(1950, 11) + "1950,1,5,5,5", 1950, 1950},
        {"beyond 500 years", MonthLines(1950, 12) + "2449,1,1,1,1\r\n2450,1,1,1,1\r\n", 1950, 1950},
        {"hexadecimal years and months", "$79E,0x1,1,1,1\r\n0x79E,$C,1,1,1", 1950, 1949},
        {"the last year read", MonthLines(9999, 12), 9999, 9999},
        {"the first year read", MonthLines(1, 24), 1, 2},
    };
    for (const auto& c : cases) {
        auto model = FreshModel();
        EXPECT_EQ(ReadError(*model, COLUMNS + c.lines), "") << c.what;
        EXPECT_EQ(model->Settings.YearBeg, c.yearBeg) << c.what;
        EXPECT_EQ(model->Settings.YearEnd, c.yearEnd) << c.what;
    }
}

TEST(ReadWeatherBytes, StoresEachLineAtItsOwnYearAndMonth) {
    auto model = FreshModel();
    ASSERT_EQ(ReadError(*model, COLUMNS + MonthLines(1960, 13) + MonthLines(1955, 24) + "1960,3,-7.5,9,\r\n" +
                                    "1960,13,99,99,99\r\n2459,12,1,2,3\r\n2460,1,99,99,99"),
              "");
    const TWeatherStore& w = model->Weather;
    EXPECT_EQ(w.Tair[1][1], 1);
    EXPECT_EQ(w.Prec[1][2], 2);
    EXPECT_EQ(w.Tsoil[1][2], 102);
    EXPECT_EQ(w.Tair[1][3], -7.5);  // the later line of a month wins
    EXPECT_EQ(w.Tsoil[1][3], MISSING_VALUE);  // an empty Tsoil field
    EXPECT_EQ(w.Tair[2][1], 2);
    EXPECT_EQ(w.Tair[2][2], MISSING_VALUE);
    EXPECT_EQ(w.Tsoil[500][12], 3);
    for (int i = 1; i <= MAX_YEARS; ++i) EXPECT_NE(w.Tair[i][1], 99) << "year index " << i;
}

TEST(ReadWeatherBytes, ClearsTheStoreOfAnEarlierRecord) {
    auto model = FreshModel();
    ASSERT_EQ(ReadError(*model, COLUMNS + MonthLines(1900, 120)), "");
    ASSERT_EQ(ReadError(*model, COLUMNS + MonthLines(2000, 6)), "");
    EXPECT_EQ(model->Weather.Tair[1][6], 1);
    EXPECT_EQ(model->Weather.Tair[1][7], MISSING_VALUE);
    EXPECT_EQ(model->Weather.Prec[10][12], MISSING_VALUE);
    EXPECT_EQ(model->Weather.Tsoil[2][1], MISSING_VALUE);
}

TEST(ReadWeatherBytes, FollowsTheColumnLine) {
    const struct {
        const char* what;
        std::string bytes;
        double tair;
        double prec;
        double tsoil;
    } cases[] = {
        {"no Tsoil column", "#\nYear,Month,Tair,Prec\n1950,1,-5,20,7", -5, 20, MISSING_VALUE},
        {"Tsoil field left out", COLUMNS + "1950,1,-5,20", -5, 20, MISSING_VALUE},
        {"other order, spaces after commas", "#\nPrec, Tsoil, Tair, Month, Year\n20, 7, -5, 1, 1950", -5, 20, 7},
        {"a column of another name", "#\nYear,Month,Station,Tair,Prec\n1950,1,Moscow,-5,20", -5, 20, MISSING_VALUE},
        {"spaces after the commas of a data line", COLUMNS + "1950, 1,  -5, 20,   7", -5, 20, 7},
        {"text after the last column", COLUMNS + "1950,1,-5,20,7,extra,1e999", -5, 20, 7},
    };
    for (const auto& c : cases) {
        auto model = FreshModel();
        ASSERT_EQ(ReadError(*model, c.bytes), "") << c.what;
        EXPECT_EQ(model->Settings.YearBeg, 1950) << c.what;
        EXPECT_EQ(model->Weather.Tair[1][1], c.tair) << c.what;
        EXPECT_EQ(model->Weather.Prec[1][1], c.prec) << c.what;
        EXPECT_EQ(model->Weather.Tsoil[1][1], c.tsoil) << c.what;
    }
}

TEST(ReadWeatherBytes, AFieldThatDoesNotConvertEndsTheReadKeepingWhatCameBefore) {
    const struct {
        std::string badLine;
        const char* message;
    } cases[] = {
        {"1951 ,1,-5,20,7", "''1951 '' is not a valid integer value"},
        {"1951,1.0,-5,20,7", "''1.0'' is not a valid integer value"},
        {"1951,1,,20,7", "'' is not a valid floating point value"},
        {"1951,1,-5,20 mm,7", "'20 mm' is not a valid floating point value"},
        {"1951,1,-5,20,\t7", "'\t7' is not a valid floating point value"},
        {"1951,1,-5,1e999,7", "'1e999' is not a valid floating point value"},
        {"", "'''' is not a valid integer value"},  // a blank line after the last data line
    };
    for (const auto& c : cases) {
        auto model = FreshModel();
        EXPECT_EQ(ReadError(*model, COLUMNS + MonthLines(1950, 13) + c.badLine + "\r\n1951,3,1,1,1"),
                  c.message + std::string("\nin line 16"))
            << "line '" << c.badLine << "'";
        EXPECT_EQ(model->Settings.YearBeg, 1950) << "line '" << c.badLine << "'";
        EXPECT_EQ(model->Settings.YearEnd, 2449) << "line '" << c.badLine << "'";
        EXPECT_EQ(model->Weather.Tair[2][1], 2) << "line '" << c.badLine << "'";
        EXPECT_EQ(model->Weather.Tair[2][2], MISSING_VALUE) << "line '" << c.badLine << "'";
    }

    // Before the first dated line, the years are still 0.
    auto model = FreshModel();
    EXPECT_EQ(ReadError(*model, COLUMNS + "x,1,1,1,1"), "''x'' is not a valid integer value\nin line 3");
    EXPECT_EQ(model->Settings.YearBeg, 0);
    EXPECT_EQ(model->Settings.YearEnd, 0);
}

// Before, a first line of year -2147483648 (month 0, so not even stored)
// fixed a window of years that no later line fell into: the record read as
// one year of missing values.
TEST(ReadWeatherBytes, AYearOutsideOneTo9999EndsTheReadNamingTheLine) {
    const struct {
        const char* year;
        const char* shown;
    } cases[] = {
        {"-2147483648", "-2147483648"}, {"0", "0"}, {"-1", "-1"}, {"10000", "10000"},
        {"2147483647", "2147483647"},   {"$2710", "10000"},
    };
    for (const auto& c : cases) {
        const std::string message =
            std::string("The year ") + c.shown + " lies outside the years 1 to 9999 a weather file may give.";
        // As the first data line, with a month that would be ignored.
        auto first = FreshModel();
        EXPECT_EQ(ReadError(*first, COLUMNS + c.year + ",0,1,1,1\r\n" + MonthLines(1961, 12)), message + "\nin line 3")
            << "year " << c.year;
        EXPECT_EQ(first->Settings.YearBeg, 0) << "year " << c.year;
        EXPECT_EQ(first->Settings.YearEnd, 0) << "year " << c.year;

        // After a year of good lines, which stay.
        auto later = FreshModel();
        EXPECT_EQ(ReadError(*later, COLUMNS + MonthLines(1961, 12) + c.year + ",1,1,1,1\r\n" + MonthLines(1962, 12)),
                  message + "\nin line 15")
            << "year " << c.year;
        EXPECT_EQ(later->Settings.YearBeg, 1961) << "year " << c.year;
        EXPECT_EQ(later->Weather.Tsoil[1][12], 112) << "year " << c.year;
        EXPECT_EQ(later->Weather.Tair[2][1], MISSING_VALUE) << "year " << c.year;
    }
}

TEST(ReadWeatherBytes, RefusesAColumnLineItCannotUseBeforeChangingAnything) {
    const struct {
        const char* columns;
        const char* message;
    } cases[] = {
        {"Year,Month,Tair,Tsoil", "The column line \"Year,Month,Tair,Tsoil\" of the weather file has no column \"Prec\"."},
        {"Year,Month,Prec,Tsoil", "The column line \"Year,Month,Prec,Tsoil\" of the weather file has no column \"Tair\"."},
        {"year,month,tair,prec", "The column line \"year,month,tair,prec\" of the weather file has no column \"Year\"."},
        {"Year ,Month,Tair,Prec", "The column line \"Year ,Month,Tair,Prec\" of the weather file has no column \"Year\"."},
        {"", "The column line \"\" of the weather file has no column \"Year\"."},
        {"Year,Month,Tair,Prec,Tsoil,Station",
         "The column line \"Year,Month,Tair,Prec,Tsoil,Station\" of the weather file names more than five columns."},
        {"Year,Month,Tair,Prec,Tsoil,", "The column line \"Year,Month,Tair,Prec,Tsoil,\" of the weather file names more than five columns."},
    };
    for (const auto& c : cases) {
        auto model = FreshModel();
        ASSERT_EQ(ReadError(*model, COLUMNS + MonthLines(1900, 12)), "");
        EXPECT_EQ(ReadError(*model, std::string("#\r\n") + c.columns + "\r\n" + MonthLines(1950, 12)),
                  c.message + std::string("\nin line 2"));
        EXPECT_EQ(model->Settings.YearBeg, 1900) << c.columns;
        EXPECT_EQ(model->Settings.YearEnd, 1900) << c.columns;
        EXPECT_EQ(model->Weather.Tsoil[1][12], 112) << c.columns;
    }
}

TEST(ReadWeatherFile, AMissingFileChangesNothingAndWarnsWithTheFormedName) {
    TempDir dir;
    WriteBytes(dir.File("weather.wed"), COLUMNS + MonthLines(1950, 12));
    auto model = FreshModel();
    model->Settings.YearBeg = 1961;
    model->Weather.Tair[1][1] = 4;
    RecordingNotifier notifier;
    EXPECT_FALSE(ReadWeatherFile(*model, dir.File("other.txt"), notifier));
    EXPECT_EQ(notifier.warnings,
              std::vector<std::string>{"File weather parameters (" + dir.File("other.wed") + ") not found."});
    EXPECT_EQ(model->Settings.YearBeg, 1961);
    EXPECT_EQ(model->Weather.Tair[1][1], 4);

    EXPECT_TRUE(ReadWeatherFile(*model, dir.File("weather.txt"), notifier));  // read as weather.wed
    EXPECT_EQ(model->Settings.YearBeg, 1950);
}

}  // namespace
}  // namespace kelmar
