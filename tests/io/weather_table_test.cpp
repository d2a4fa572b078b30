// The comma-separated reader and the tidy weather table of many sites.
#include <gtest/gtest.h>

#include <memory>

#include "io/csv_text.h"
#include "io/io_test_support.h"
#include "io/weather_file.h"
#include "io/weather_table.h"
#include "model/errors.h"
#include "model/notifier.h"

namespace kelmar {
namespace {

std::vector<std::vector<std::string>> ReadAll(std::string_view text) {
    CsvReader reader(text, "t.csv");
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> fields;
    while (reader.Next(fields)) records.push_back(fields);
    return records;
}

TEST(CsvReader, ReadsQuotedFieldsAndCountsTheirLines) {
    const std::string text = "\xEF\xBB\xBF" "a,b\r\n\"x, \"\"y\"\"\",\"two\nlines\"\n\n,last";
    CsvReader reader(text, "t.csv");
    std::vector<std::string> fields;
    ASSERT_TRUE(reader.Next(fields));
    EXPECT_EQ(fields, (std::vector<std::string>{"a", "b"}));
    ASSERT_TRUE(reader.Next(fields));
    EXPECT_EQ(fields, (std::vector<std::string>{"x, \"y\"", "two\nlines"}));
    EXPECT_EQ(reader.LineNumber(), 2);
    ASSERT_TRUE(reader.Next(fields));  // after the quoted line end and an empty line
    EXPECT_EQ(fields, (std::vector<std::string>{"", "last"}));
    EXPECT_EQ(reader.LineNumber(), 5);
    EXPECT_FALSE(reader.Next(fields));
}

TEST(CsvReader, RefusesBrokenQuotingNamingTheLine) {
    const struct {
        const char* text;
        const char* line;
    } cases[] = {
        {"a\n\"open,b\nc\n", "line 2"},
        {"a\nx\"y,b\n", "line 2"},
        {"a\n\"x\"y,b\n", "line 2"},
    };
    for (const auto& c : cases) {
        try {
            ReadAll(c.text);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const KelmarError& e) {
            EXPECT_NE(std::string(e.what()).find(std::string("in \"t.csv\", ") + c.line), std::string::npos)
                << c.text << " -> " << e.what();
        }
    }
}

TEST(CsvReader, QuotedFieldsReadBackAsWritten) {
    for (const std::string field : {"plain", "", "a,b", "say \"hi\"", "two\r\nlines", " padded "}) {
        std::string line;
        AppendCsvField(line, field);
        line += ",end\n";
        const auto records = ReadAll(line);
        ASSERT_EQ(records.size(), 1u) << line;
        EXPECT_EQ(records[0][0], field) << line;
    }
}

// Two sites, rows of the second out of order and one value missing as NA.
constexpr const char* TWO_SITES =
    "site_id,year,month,tair,prec,tsoil\n"
    "a,1990,1,-5,40,NA\n"
    "b,2001,2,-3,30,1\n"
    "a,1990,2,-4,35,0.5\n"
    "b,2000,1,-2,20,\n";

TEST(WeatherTable, StoresEachSitesRecordAsItsWeatherFileWould) {
    const auto table = ReadWeatherTableBytes(TWO_SITES, "w.csv");
    EXPECT_EQ(table->SiteIds, (std::vector<std::string>{"a", "b"}));
    TModel model;
    table->Store(model, "b");
    EXPECT_EQ(model.Settings.YearBeg, 2000);  // the earliest year, not the first row's
    EXPECT_EQ(model.Weather.Tair[1][1], -2);
    EXPECT_EQ(model.Weather.Tsoil[1][1], MISSING_VALUE);
    EXPECT_EQ(model.Weather.Prec[2][2], 30);
    EXPECT_EQ(model.Weather.Tair[1][2], MISSING_VALUE);
    table->Store(model, "a");
    EXPECT_EQ(model.Settings.YearBeg, 1990);
    EXPECT_EQ(model.Weather.Tsoil[1][1], MISSING_VALUE);
    EXPECT_EQ(model.Weather.Tsoil[1][2], 0.5);
    EXPECT_EQ(model.Weather.Tair[2][1], MISSING_VALUE);  // nothing left of site b
}

TEST(WeatherTable, RefusesBadTablesNamingTheLine) {
    const struct {
        const char* text;
        const char* expected;  // a piece of the message
    } cases[] = {
        {"site_id,year,month,tair\n", "no column \"prec\""},
        {"site_id,year,month,tair,prec,wind\n", "\"wind\" is not one of"},
        {"site_id,year,month,tair,prec\na,1990,1,x,3\n", "line 2"},
        {"site_id,year,month,tair,prec\na,1990,13,1,3\n", "month 13"},
        {"site_id,year,month,tair,prec\na,0,1,1,3\n", "year 0"},
        {"site_id,year,month,tair,prec\n,1990,1,1,3\n", "no site_id"},
        {"site_id,year,month,tair,prec\na,1990,1,1\n", "4 fields"},
        {"site_id,year,month,tair,prec\na,1990,1,1,3\nb,1990,1,1,3\na,1990,1,2,3\n", "line 4"},
    };
    for (const auto& c : cases) {
        try {
            ReadWeatherTableBytes(c.text, "w.csv");
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const KelmarError& e) {
            EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << c.text << " -> " << e.what();
        }
    }
    const auto table = ReadWeatherTableBytes(TWO_SITES, "w.csv");
    TModel model;
    EXPECT_THROW(table->Store(model, "c"), KelmarError);
    EXPECT_THROW(table->Store(model, ""), KelmarError);  // two sites: one must be named
}

struct SilentNotifier : Notifier {
    void Warning(const std::string&) override {}
};

// A tidy table of the example record gives the very store the .wed gives.
TEST(WeatherTable, TheExampleRecordAsATableEqualsItsWeatherFile) {
    testing::TempDir dir;
    const std::string wed = testing::ReadBytes(KELMAR_EXAMPLES_DIR "/weather.wed");
    std::string csv = "site_id,year,month,tair,prec,tsoil\n";
    std::size_t start = wed.find('\n', wed.find('\n') + 1) + 1;  // after the title and column lines
    while (start < wed.size()) {
        std::size_t end = wed.find('\n', start);
        if (end == std::string::npos) end = wed.size();
        std::string line = wed.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) csv += "only," + line + "\n";
        start = end + 1;
    }
    testing::WriteBytes(dir.File("w.csv"), csv);
    SilentNotifier notifier;
    auto fromWed = std::make_unique<TModel>(), fromCsv = std::make_unique<TModel>();
    ASSERT_TRUE(ReadWeatherFile(*fromWed, KELMAR_EXAMPLES_DIR "/weather.wed", notifier));
    ASSERT_TRUE(ReadWeatherFile(*fromCsv, dir.File("w.csv"), notifier));
    EXPECT_EQ(fromCsv->Settings.YearBeg, fromWed->Settings.YearBeg);
    EXPECT_EQ(fromCsv->Settings.YearEnd, fromWed->Settings.YearEnd);
    EXPECT_TRUE(fromCsv->Weather.Tair == fromWed->Weather.Tair);
    EXPECT_TRUE(fromCsv->Weather.Prec == fromWed->Weather.Prec);
    EXPECT_TRUE(fromCsv->Weather.Tsoil == fromWed->Weather.Tsoil);
}

}  // namespace
}  // namespace kelmar
