// The batch's lists under hostile input: text in another encoding, control
// characters and NUL bytes, flags that would wrap, labels a spreadsheet
// takes for formulas, a list changed while its batch runs, and the whole and
// the two-pass reader of the site list agreeing on all of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "app/batch/batch_run.h"
#include "app/batch/scenario_list.h"
#include "app/batch/site_list.h"
#include "io/io_test_support.h"

namespace kelmar::batch {
namespace {

using kelmar::testing::ErrorText;
using kelmar::testing::ReadBytes;
using kelmar::testing::TempDir;
using kelmar::testing::WriteBytes;
using namespace std::string_literals;  // texts that hold NUL bytes

const std::string EXAMPLES = KELMAR_EXAMPLES_DIR;
const std::string SITES_HEADER = "site_id,site_file,climate_file\n";

std::string Utf16Le(const std::string& ascii) {
    std::string text = "\xFF\xFE";
    for (const char c : ascii) text += std::string(1, c) + '\0';
    return text;
}

enum class List { Sites, Scenarios };

// What a list reader refuses, and a piece of the message it must give: the
// fault, the file and line (the list is "list.csv" in a temporary folder),
// and the advice.
TEST(HostileLists, RefusedWithTheLineAndAdvice) {
    const struct {
        List list;
        std::string text;
        std::string expected;
    } cases[] = {
        // Control characters in an id break the tables and the netCDF file.
        {List::Sites, SITES_HEADER + "a,s.sit,c.cld\n\"b\nc\",s.sit,c.cld\n",
         "The site_id \"b\\x0Ac\" holds a line end or another control character.\nin \"%\", line 3"},
        {List::Sites, SITES_HEADER + "a\x1B[31m,s.sit,c.cld\n", "The site_id \"a\\x1B[31m\" holds a line end"},
        {List::Sites, SITES_HEADER + "a\tb,s.sit,c.cld\n", "another control character.\nin \"%\", line 2"},
        {List::Scenarios, "scenario,delta_t\nwarm\x7F,2\n", "The scenario's name \"warm\\x7F\" holds a line end"},
        // Text saved in Windows-1251 (or any other single-byte code page).
        {List::Sites, SITES_HEADER + "ok,s.sit,c.cld\n\xCF\xEB\xEE\xF2 1,s.sit,c.cld\n",
         "The site_id \"\\xCF\\xEB\\xEE\\xF2 1\" is not UTF-8 text, the encoding of the lists and of every output.\n"
         "in \"%\", line 3\nSave the list as UTF-8"},
        {List::Scenarios, "scenario,delta_t\n\xF2\xE5\xEF\xEB\xEE,2\n",
         "The scenario's name \"\\xF2\\xE5\\xEF\\xEB\\xEE\" is not UTF-8 text"},
        {List::Sites, SITES_HEADER + "over\xC0\xAF,s.sit,c.cld\n", "is not UTF-8 text"},     // overlong '/'
        {List::Sites, SITES_HEADER + "half\xED\xA0\x80,s.sit,c.cld\n", "is not UTF-8 text"},  // a surrogate
        {List::Sites, SITES_HEADER + "cut\xD0,s.sit,c.cld\n", "\"cut\\xD0\" is not UTF-8 text"},
        // UTF-16 and NUL bytes: the whole message, with its place and advice.
        {List::Sites, Utf16Le(SITES_HEADER + "a,s.sit,c.cld\n"),
         "The site list \"%\" looks like UTF-16 text.\nin \"%\", line 1\nSave it as UTF-8 text"},
        {List::Scenarios, Utf16Le("scenario,delta_t\nwarm,2\n"),
         "The scenario list \"%\" looks like UTF-16 text.\nin \"%\", line 1\nSave it as UTF-8 text"},
        {List::Sites, "site_id,site_file\x00\x01,climate_file\na,s.sit,c.cld\n"s,
         "The column \"site_file\\x00\\x01\" is unknown; a site list has the columns site_id,"},
        {List::Sites, SITES_HEADER + "a,s\x00.sit,c.cld\n"s,
         "The field site_file \"s\\x00.sit\" holds a NUL byte, which no text of a list holds.\nin \"%\", line 2\n"
         "Save the list as UTF-8"},
        {List::Scenarios, "scenario,delta_t\x00\nwarm,2\n"s, "The column \"delta_t\\x00\" is unknown"},
        // Flags and codes: what a site file stores, whole numbers 0..255.
        {List::Sites, "site_id,Lat,Fortype,climate_file\na,61,257,c.cld\n",
         "Fortype takes a whole number from 0 to 255, not 257.\nin \"%\", line 2, column Fortype"},
        {List::Sites, "site_id,Lat,Saturat,climate_file\na,61,-1,c.cld\n",
         "Saturat takes a whole number from 0 to 255, not -1."},
        {List::Sites, "site_id,Lat,Permafr,climate_file\na,61,65537,c.cld\n", "not 65537."},
        // Lines ended by a carriage return alone: the header runs into the rows.
        {List::Sites, "site_id,site_file,climate_file\ra,s.sit,c.cld\r",
         "The header runs into the rows (\"climate_file\\x0Da\"): the list's lines end with a carriage return alone."},
        {List::Scenarios, "scenario,delta_t\rwarm,2\r", "The header runs into the rows (\"delta_t\\x0Dwarm\")"},
        // Numbers: what is no number is shown as the list holds it (UTF-8),
        // with the line and column.
        {List::Sites, "site_id,Lat,climate_file\na,\xD9\xA1\xD9\xA2,c.cld\n",
         "'\xD9\xA1\xD9\xA2' is not a valid floating point value\nin \"%\", line 2, column Lat"},
        {List::Sites, "site_id,Lat,climate_file\na,nan,c.cld\n", "'nan' is not a valid floating point value\nin \"%\", line 2"},
        {List::Sites, "site_id,Lat,climate_file\na,-inf,c.cld\n", "'-inf' is not a valid floating point value"},
        {List::Sites, "site_id,Lat,climate_file\na,1e999,c.cld\n", "'1e999' is not a valid floating point value"},
        {List::Sites, "site_id,Lat,climate_file\na,0x3C,c.cld\n", "'0x3C' is not a valid floating point value"},
        {List::Sites, "site_id,Lat,climate_file\na,\"60,5\",c.cld\n", "'60,5' is not a valid floating point value"},
        {List::Sites, SITES_HEADER.substr(0, SITES_HEADER.size() - 1) + ",lat,lon\na,s.sit,c.cld,95,10\n",
         "The lat 95 lies outside -90 to 90 degrees.\nin \"%\", line 2"},
        {List::Sites, SITES_HEADER.substr(0, SITES_HEADER.size() - 1) + ",lat,lon\na,s.sit,c.cld,60,400\n",
         "The lon 400 lies outside -180 to 360 degrees."},
        {List::Sites, SITES_HEADER.substr(0, SITES_HEADER.size() - 1) + ",seed\na,s.sit,c.cld,-1\n",
         "The seed '-1' is not a whole number from 0 to 4294967295.\nin \"%\", line 2"},
        {List::Sites, SITES_HEADER.substr(0, SITES_HEADER.size() - 1) + ",seed\na,s.sit,c.cld,4294967296\n",
         "The seed '4294967296' is not a whole number"},
        // The shape of the list.
        {List::Sites, SITES_HEADER + "a,s.sit,c.cld\n\"b,s.sit,c.cld\n", "A quoted field is not closed by a quote.\nin \"%\", line 3"},
        {List::Sites, SITES_HEADER + "\"a\"b,s.sit,c.cld\n", "Text follows the closing quote of a field"},
        {List::Sites, "site_file,climate_file\ns.sit,c.cld\n", "The header names no column \"site_id\".\nin \"%\", line 1"},
        {List::Sites, "site_id,site_id,site_file,climate_file\na,b,s.sit,c.cld\n", "The column \"site_id\" is named twice."},
        {List::Sites, "site_id,Lat,site_file,climate_file\na,60,s.sit,c.cld\n",
         "The header names both site_file and site parameters; give either."},
        {List::Sites, SITES_HEADER + ",s.sit,c.cld\n", "The field site_id is empty.\nin \"%\", line 2"},
        {List::Sites, SITES_HEADER + "a,,c.cld\n", "The field site_file is empty."},
        {List::Sites, SITES_HEADER + "a,s.sit,c.cld,extra\n", "The row has 4 fields; the header names 3.\nin \"%\", line 2"},
        {List::Sites, SITES_HEADER + "a,s.sit\n", "The row has 2 fields; the header names 3."},
        {List::Sites, "site_id,site_file,weather_file\na,s.sit,\n", "The site \"a\" has neither a climate_file nor a weather_file."},
        // Scenario values: numbers within what climate studies use.
        {List::Scenarios, "scenario,delta_t\nw,nan\n", "'nan' is not a valid floating point value (column delta_t)\nin \"%\", line 2"},
        {List::Scenarios, "scenario,delta_t\nw,inf\n", "'inf' is not a valid floating point value"},
        {List::Scenarios, "scenario,delta_t\nw,21\n", "has a temperature change of 21 for month 1; a change lies within -20 to 20"},
        {List::Scenarios, "scenario,precip_factor\nw,0\n", "has a precipitation factor of 0 for month 1; a factor lies within 0.1 to 10."},
        {List::Scenarios, "scenario,precip_factor_7\nw,1\n", "The key precip_factor has 1 monthly columns; it takes all twelve"},
        {List::Scenarios, "scenario,precip_factor\nw,-1\n", "a precipitation factor of -1 for month 1"},
        {List::Scenarios, "scenario,precip_factor\nw,11\n", "a precipitation factor of 11 for month 1"},
        {List::Scenarios, "scenario,variability\nw,1e6\n", "has a variability factor of 1e+06; a factor lies within 0.1 to 10."},
        {List::Scenarios, "scenario,delta_t\nw,1\nw,2\n", "The scenario \"w\" is given twice.\nin \"%\", line 3"},
        {List::Scenarios, "scenario,delta_t\n,1\n", "The scenario's name is empty.\nin \"%\", line 2"},
        {List::Scenarios, "scenario,delta_t\n", "has no scenario; it needs a row under its header."},
        {List::Scenarios, "scenario,delta_t_13\nw,1\n", "The column \"delta_t_13\" is unknown"},
        {List::Scenarios, "scenario,delta_t_1,delta_t\nw,1,1\n",
         "The key delta_t has both its one column and monthly columns; give one or the other."},
    };
    TempDir dir;
    const std::string file = dir.File("list.csv");
    for (const auto& c : cases) {
        WriteBytes(file, c.text);
        std::string expected = c.expected;
        for (std::size_t at; (at = expected.find('%')) != std::string::npos;) expected.replace(at, 1, file);
        if (c.list == List::Scenarios) {
            const std::string message = ErrorText([&] { ReadScenarioList(file); });
            EXPECT_NE(message.find(expected), std::string::npos) << ::testing::PrintToString(c.text) << "\n-> " << message;
            continue;
        }
        // Both readers of a site list refuse it in the same words.
        const std::string whole = ErrorText([&] { ReadSiteList(file); });
        EXPECT_NE(whole.find(expected), std::string::npos) << ::testing::PrintToString(c.text) << "\n-> " << whole;
        const std::string streamed = ErrorText([&] { SiteListFile(file, 64); });
        EXPECT_EQ(streamed, whole) << ::testing::PrintToString(c.text);
    }
}

// What looks hostile but is sound is read exactly as given.
TEST(HostileLists, SoundTextIsKeptExactly) {
    const std::string text = "site_id,Lat,Fortype,Saturat,climate_file\n"
                             "\xD0\x9F\xD0\xBB\xD0\xBE\xD1\x82 \xE2\x84\x96" "1,61,255,0,c.cld\n"  // Cyrillic, a sign
                             "\"=HYPERLINK(\"\"x\"\")\",61,0,1,c.cld\n"
                             "+7,61,1,1,c.cld\n"
                             "\"-2,5\",61,2,0,c.cld\n"
                             "@sum,61,3,0,c.cld\n";
    const SiteList list = ParseSiteList(text, "list.csv", "");
    ASSERT_EQ(list.Sites.size(), 5u);
    EXPECT_EQ(list.Sites[0].Id, "\xD0\x9F\xD0\xBB\xD0\xBE\xD1\x82 \xE2\x84\x96" "1");
    EXPECT_EQ(list.Sites[0].Params.Fortype, 255);
    EXPECT_EQ(list.Sites[1].Id, "=HYPERLINK(\"x\")");
    EXPECT_EQ(list.Sites[3].Id, "-2,5");
    // The ids a spreadsheet would take for formulas, the first few named.
    EXPECT_EQ(list.FormulaIds.Count, 4);
    EXPECT_EQ(FormulaWarning(list.FormulaIds, "site ids"),
              "4 site ids begin with =, +, - or @ (=HYPERLINK(\"x\"), +7, -2,5, ...); spreadsheets may read them as "
              "formulas: import the CSV as text");
    const ScenarioList scenarios = ParseScenarioList("scenario,delta_t\n-warm,2\ncool,-1\n", "s.csv");
    EXPECT_EQ(FormulaWarning(scenarios.FormulaNames, "scenario names"),
              "1 scenario name begins with =, +, - or @ (-warm); spreadsheets may read it as a formula: import the "
              "CSV as text");
    EXPECT_EQ(FormulaWarning(ParseSiteList(SITES_HEADER + "a-1,s.sit,c.cld\n", "l.csv", "").FormulaIds, "site ids"),
              std::nullopt);
}

// The batch warns once about such labels and writes them as they are.
TEST(HostileLists, BatchWarnsOfFormulaLabelsAndKeepsThem) {
    TempDir dir;
    std::string text = "site_id,site_file,climate_file,weather_file\n";
    for (const char* id : {"=1+1", "plain", "@a", "+b", "-c"})
        text += std::string(id) + "," + EXAMPLES + "/soil.sit," + EXAMPLES + "/climat.cld," + EXAMPLES + "/weather.wed\n";
    WriteBytes(dir.File("sites.csv"), text);
    WriteBytes(dir.File("scenarios.csv"), "scenario,delta_t\n+2K,2\n");
    BatchOptions options;
    options.SitesFile = dir.File("sites.csv");
    options.ScenariosFile = dir.File("scenarios.csv");
    options.OutDir = dir.File("out");
    options.Jobs = 1;
    options.Seed = 1;
    options.Version = "test";
    std::ostringstream err;
    RunBatch(options, err);
    const std::string warnings = err.str();
    EXPECT_NE(warnings.find("warning: 4 site ids begin with =, +, - or @ (=1+1, @a, +b, ...); spreadsheets may read "
                            "them as formulas: import the CSV as text\n"),
              std::string::npos)
        << warnings;
    EXPECT_NE(warnings.find("warning: 1 scenario name begins with =, +, - or @ (+2K)"), std::string::npos) << warnings;
    const std::string monthly = ReadBytes(dir.File("out/monthly.csv"));
    EXPECT_NE(monthly.find("\n=1+1,"), std::string::npos);
    EXPECT_NE(monthly.find(",+2K,"), std::string::npos);
}

// Any change to the list while its batch runs stops it, wherever the change
// is: rows added at the end, rows taken away, a row changed.
TEST(HostileLists, AListChangedUnderTheSecondPassStopsTheBatch) {
    TempDir dir;
    const std::string file = dir.File("list.csv");
    std::string text = SITES_HEADER;
    for (int i = 0; i < 700; ++i) text += "s" + std::to_string(i) + ",a.sit,c.cld\n";
    const std::string grown = text + "s700,a.sit,c.cld\n";
    const std::string shrunk = text.substr(0, text.size() - std::string("s699,a.sit,c.cld\n").size());
    const std::string changed = std::string(text).replace(text.find("s640,"), 5, "t640,");
    // A change of the same length is found in its own block (10, the last);
    // a change of length in any block.
    for (const auto& [edited, blocks] : {std::pair{grown, std::vector<std::int64_t>{1, 10}},
                                         std::pair{shrunk, std::vector<std::int64_t>{1, 10}},
                                         std::pair{changed, std::vector<std::int64_t>{10}}}) {
        WriteBytes(file, text);
        const SiteListFile list(file, 64);
        ASSERT_EQ(list.Count(), 700);
        EXPECT_EQ(list.ReadBlock(0).size(), 64u);
        WriteBytes(file, edited);
        for (const std::int64_t block : blocks)
            EXPECT_NE(ErrorText([&] { list.ReadBlock(block); }).find("has changed since the batch checked it"),
                      std::string::npos)
                << "block " << block << " of a list of " << edited.size() << " bytes";
    }
}

// The whole read and the two-pass read (at any size of its reads) give the
// same sites at the same lines, or the same refusal.
TEST(HostileLists, TheWholeAndTheTwoPassReadAgree) {
    const std::string blanks((std::size_t{1} << 20) + 4096, '\n');  // more than one read of the two-pass reader
    const std::string texts[] = {
        blanks + SITES_HEADER + "a,s.sit,c.cld\n\nb,s.sit,c.cld\n",
        "\xEF\xBB\xBF\r\n\r\n\n" + SITES_HEADER + "\n\n\"a\n,\"\"\",s.sit,c.cld\r\nb,s.sit,c.cld",
        "\n\n\n\n",
        blanks,
        "\n\n" + SITES_HEADER + "\n\n",
        "\n\n" + SITES_HEADER + "a,s.sit,c.cld\na,s.sit,c.cld\nb,s.sit\n",
    };
    TempDir dir;
    const std::string file = dir.File("list.csv");
    for (const std::string& text : texts) {
        WriteBytes(file, text);
        SiteList whole;
        const std::string wholeError = ErrorText([&] { whole = ReadSiteList(file); });
        for (const std::size_t readBytes : {std::size_t{3}, std::size_t{17}, SITE_LIST_READ_BYTES}) {
            if (text.size() > 100000 && readBytes < 100) continue;
            const std::string context = ::testing::PrintToString(text.substr(text.size() - std::min<std::size_t>(80, text.size()))) +
                                        " read " + std::to_string(readBytes) + " bytes at a time";
            std::unique_ptr<SiteListFile> list;
            const std::string streamedError = ErrorText([&] { list = std::make_unique<SiteListFile>(file, 1, readBytes); });
            EXPECT_EQ(streamedError.substr(0, streamedError.find('\n')), wholeError.substr(0, wholeError.find('\n')))
                << context;
            if (!list || !wholeError.empty()) continue;
            ASSERT_EQ(list->Count(), static_cast<std::int64_t>(whole.Sites.size())) << context;
            for (std::int64_t k = 0; k < list->Count(); ++k) {
                const SiteEntry site = list->ReadBlock(k).at(0);
                EXPECT_EQ(site.Id, whole.Sites[k].Id) << context;
                EXPECT_EQ(site.Line, whole.Sites[k].Line) << context;
            }
        }
    }
}

}  // namespace
}  // namespace kelmar::batch
