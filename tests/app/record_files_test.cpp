#include "app/record_files.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "model/errors.h"

namespace kelmar {
namespace {

namespace fs = std::filesystem;

class KeptWarnings : public Notifier {
public:
    void Warning(const std::string& text) override { Texts.push_back(text); }
    std::vector<std::string> Texts;
};

struct RecordFiles : ::testing::Test {
    fs::path dir = fs::temp_directory_path() / ("kelmar-record-files-" + std::to_string(::getpid()));
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }
    std::string In(const char* name) const { return (dir / name).string(); }
};

// A file not found is an error with the reader's own text, not a warning
// besides it; the name the reader looked for is the one the error gives.
TEST_F(RecordFiles, AMissingFileRaisesTheReadersTextAndWarnsOfNothing) {
    struct Case {
        const char* what;
        std::function<void(const std::string&, Notifier&)> read;
        const char* expected;  // the file named in the error
    };
    TSiteParams site;
    TClimatology climate;
    WeatherRecord weather;
    const std::vector<Case> cases = {
        {"site", [&](const std::string& f, Notifier& n) { ReadSiteRecord(f, site, n); },
         "File soil parameters (%s.sit) not found."},
        {"climatology", [&](const std::string& f, Notifier& n) { ReadClimatologyRecord(f, climate, n); },
         "File climat parameters (%s.cld) not found."},
        {"weather", [&](const std::string& f, Notifier& n) { ReadWeatherRecord(f, "", weather, n); },
         "File weather parameters (%s.wed) not found."},
    };
    for (const Case& c : cases) {
        KeptWarnings warnings;
        const std::string stem = In("absent");
        std::string expected = c.expected;
        expected.replace(expected.find("%s"), 2, stem);
        try {
            c.read(stem, warnings);
            ADD_FAILURE() << c.what << ": a missing file read";
        } catch (const KelmarError& e) {
            EXPECT_EQ(e.what(), expected) << c.what;
        }
        EXPECT_TRUE(warnings.Texts.empty()) << c.what << ": the error also came as a warning";
    }
}

// Read by the readers' naming rules, written back as the same bytes, and
// named as the reader formed the name.
TEST_F(RecordFiles, ARecordWrittenReadsBackUnderTheNameTheReaderForms) {
    TClimatology climate{};
    for (int m = 1; m <= 12; ++m) {
        climate.av_Ta[m] = m - 6.5;
        climate.av_P[m] = 40;  // mm; the reader derives the lognormal's parameters from these two
        climate.Cv_P[m] = 0.5;
    }
    WriteClimatologyRecord(In("climat.cld"), climate);
    KeptWarnings warnings;
    TClimatology again{};
    EXPECT_EQ(ReadClimatologyRecord(In("climat.txt"), again, warnings), In("climat.cld"));
    EXPECT_EQ(again.av_Ta, climate.av_Ta);

    WeatherRecord weather;
    weather.YearBeg = weather.YearEnd = 1999;
    for (int m = 1; m <= 12; ++m) {
        weather.Store.Tair[1][m] = m - 6.25;
        weather.Store.Prec[1][m] = 10 + m;
        weather.Store.Tsoil[1][m] = m / 4.0;
    }
    WriteWeatherRecord(In("record.wed"), weather);
    WeatherRecord read;
    EXPECT_EQ(ReadWeatherRecord(In("record"), "", read, warnings), In("record.wed"));
    EXPECT_EQ((std::pair{read.YearBeg, read.YearEnd}), (std::pair{1999, 1999}));
    for (int m = 1; m <= 12; ++m) EXPECT_EQ(read.Store.Tair[1][m], weather.Store.Tair[1][m]) << "month " << m;
    EXPECT_TRUE(warnings.Texts.empty());
}

// A value that is not a number would be written as nan or inf; the file
// is not written.
TEST_F(RecordFiles, AValueThatIsNotFiniteIsNotWritten) {
    TClimatology climate{};
    climate.std_Ta[3] = std::nan("");
    EXPECT_THROW(
        {
            try {
                WriteClimatologyRecord(In("bad.cld"), climate);
            } catch (const KelmarError& e) {
                EXPECT_STREQ(e.what(), "std_Ta must be a finite number, not nan.");
                throw;
            }
        },
        KelmarError);
    EXPECT_FALSE(fs::exists(In("bad.cld")));
    WeatherRecord weather;
    weather.YearBeg = weather.YearEnd = 2001;
    weather.Store.Tsoil[1][7] = INFINITY;
    EXPECT_THROW(WriteWeatherRecord(In("bad.wed"), weather), KelmarError);
    EXPECT_FALSE(fs::exists(In("bad.wed")));
}

}  // namespace
}  // namespace kelmar
