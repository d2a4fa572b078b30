#include "io/climatology_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "app/presentation/grid_texts.h"
#include "io/io_test_support.h"
#include "model/errors.h"
#include "model/lognormal_precipitation.h"
#include "model/model_fixtures.h"

namespace kelmar {
namespace {

using testing::ReadBytes;
using testing::RecordingNotifier;
using testing::TempDir;
using testing::WriteBytes;

const char* const HEADER = "VAR VALUE\r\n#\r\n";

// A data line: the key and twelve values joined by `separator`.
std::string DataLine(const std::string& key, const std::string& separator = ",", int first = 1) {
    std::string line = key;
    for (int m = 0; m < 12; ++m) line += separator + std::to_string(first + m);
    return line;
}

std::vector<std::string> SplitCrLf(const std::string& bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(bytes.substr(start, end - start));
    lines.push_back(bytes.substr(start));
    return lines;
}

// The message of the KelmarError the read raises, or "" when it raises none.
std::string ReadError(TModel& model, const std::string& bytes) {
    return testing::ErrorText([&] { ReadClimatologyBytes(model, bytes); });
}

TEST(WriteClimatologyFile, WritesTheValueTextsBetweenTheFixedLines) {
    TClimatology climate = testing::BorealClimate();
    climate.av_Ta[1] = -12.3;
    ClimatologyTexts texts = ClimatologyValueTexts(climate);
    texts[11][11] = "0,5\u2026";  // typed by the user, written as typed in the file's code page
    TempDir dir;
    WriteClimatologyFile(dir.File("climat.cld"), texts);

    const std::vector<std::string> lines = SplitCrLf(ReadBytes(dir.File("climat.cld")));
    ASSERT_EQ(lines.size(), 26u);
    EXPECT_EQ(lines[0], "VAR VALUE");
    EXPECT_EQ(lines[1], "#");
    EXPECT_EQ(lines[2], "av_Ta,-12.30,-9.00,-4.00,3.00,10.00,15.00,17.00,15.00,9.00,3.00,-3.00,-8.00");
    EXPECT_EQ(lines[3], "# Average air temperature, deg.C");
    EXPECT_EQ(lines[6], "av_P,38.00,29.00,30.00,33.00,42.00,63.00,78.00,80.00,62.00,60.00,52.00,44.00");
    EXPECT_EQ(lines[13], "#Standard deviation of soil temperature at 0.2 m depth under grass, deg.C");
    for (int i : {15, 17, 21, 23}) EXPECT_EQ(lines[i], "# regression coefficient\x85") << "line " << i;
    EXPECT_EQ(lines[24], "Ss,0.60,0.60,0.55,0.60,0.80,0.75,0.70,0.65,0.60,0.60,0.55,0,5\x85");
    EXPECT_EQ(lines[25], "# residual deviation of soil temperature, deg.C");  // no line end after it
}

TEST(ReadClimatologyFile, ReadThenWrittenTheExampleIsUnchanged) {
    auto model = std::make_unique<TModel>();
    RecordingNotifier notifier;
    ASSERT_TRUE(ReadClimatologyFile(*model, KELMAR_EXAMPLES_DIR "/climat.cld", notifier));
    TempDir dir;
    WriteClimatologyFile(dir.File("copy.cld"), ClimatologyValueTexts(model->Climate));
    EXPECT_EQ(ReadBytes(dir.File("copy.cld")), ReadBytes(KELMAR_EXAMPLES_DIR "/climat.cld"));
}

TEST(ReadClimatologyFile, ReadsBackWhatWasWrittenAndDerivesFromTheReadValues) {
    TClimatology climate = testing::BorealClimate();
    climate.av_P[3] = 30.456;
    climate.Cv_P[3] = 0.444;
    climate.Bap[7] = -1.005;
    TempDir dir;
    WriteClimatologyFile(dir.File("climat.cld"), ClimatologyValueTexts(climate));

    auto model = std::make_unique<TModel>();
    RecordingNotifier notifier;
    ASSERT_TRUE(ReadClimatologyFile(*model, dir.File("climat.txt"), notifier));  // read as climat.cld
    const TClimatology& read = model->Climate;
    for (const ClimateField& field : CLIMATE_FIELDS)
        for (int m = 1; m <= 12; ++m)
            EXPECT_NEAR((read.*field.Values)[m], (climate.*field.Values)[m], 0.005 + 1e-12)
                << field.Key << " month " << m;
    EXPECT_EQ(read.av_P[3], 30.46);
    EXPECT_EQ(read.Cv_P[3], 0.44);
    for (int m = 1; m <= 12; ++m) {
        const double variance = read.Cv_P[m] * read.Cv_P[m] + 1;
        EXPECT_EQ(read.sigma_P[m], std::sqrt(std::log(variance))) << "month " << m;
        EXPECT_EQ(read.mu_P[m], std::log(read.av_P[m] / std::sqrt(variance))) << "month " << m;
    }
}

TEST(DeriveLognormalPrecipitation, GivesTheLognormalParameters) {
    TClimatology climate = testing::BorealClimate();
    climate.av_P[1] = 50;
    climate.Cv_P[1] = 0.5;
    climate.av_P[2] = 20;
    climate.Cv_P[2] = 0;
    DeriveLognormalPrecipitation(climate);
    EXPECT_NEAR(climate.sigma_P[1], 0.4724, 5e-5);
    EXPECT_NEAR(climate.mu_P[1], 3.8005, 5e-5);
    EXPECT_EQ(climate.sigma_P[2], 0);
    EXPECT_EQ(climate.mu_P[2], std::log(20.0));
}

TEST(DeriveLognormalPrecipitation, StopsAtTheFirstMonthWithoutParameters) {
    const struct {
        double av_P;
        double Cv_P;
        const char* message;
        bool sigmaStored;
    } cases[] = {
        {0, 0.5, "Floating point division by zero", true},
        {-0.0, 0.5, "Floating point division by zero", true},
        {-3, 0.5, "Invalid floating point operation", true},
        {40, 1e200, "Floating point overflow", false},    // Cv_P^2 is beyond any double
        {1e-300, 1e150, "Floating point overflow", true},  // the ratio underflows to 0
    };
    for (const auto& c : cases) {
        TClimatology climate = testing::BorealClimate();
        climate.av_P[5] = c.av_P;
        climate.Cv_P[5] = c.Cv_P;
        climate.mu_P.fill(7);
        climate.sigma_P.fill(7);
        try {
            DeriveLognormalPrecipitation(climate);
            ADD_FAILURE() << "av_P " << c.av_P << " Cv_P " << c.Cv_P << " was derived";
        } catch (const KelmarError& e) {
            EXPECT_STREQ(e.what(), c.message) << "av_P " << c.av_P << " Cv_P " << c.Cv_P;
        }
        EXPECT_NE(climate.mu_P[4], 7);
        EXPECT_EQ(climate.mu_P[5], 7);
        EXPECT_EQ(climate.sigma_P[5] != 7, c.sigmaStored) << "av_P " << c.av_P << " Cv_P " << c.Cv_P;
        EXPECT_TRUE(std::isfinite(climate.sigma_P[5]));
        EXPECT_EQ(climate.mu_P[6], 7);
        EXPECT_EQ(climate.sigma_P[6], 7);
    }
}

TEST(ParseClimatologyLine, TakesTwelveValuesAfterCommasAndSpaces) {
    TClimatology climate;
    ParseClimatologyLine(climate, DataLine("av_Ta", ",  "));
    ParseClimatologyLine(climate, DataLine("Cv_P") + ",13,not read");
    ParseClimatologyLine(climate, DataLine(" Baa"));   // the key is taken untrimmed
    ParseClimatologyLine(climate, DataLine("sa"));     // keys are case-sensitive
    ParseClimatologyLine(climate, "Ss,1 ,2, 3 ,4,5,6,7,8,9,10,11,  12  ");
    for (int m = 1; m <= 12; ++m) {
        EXPECT_EQ(climate.av_Ta[m], m) << "month " << m;
        EXPECT_EQ(climate.Cv_P[m], m) << "month " << m;
        EXPECT_EQ(climate.Baa[m], 0) << "month " << m;
        EXPECT_EQ(climate.Sa[m], 0) << "month " << m;
        EXPECT_EQ(climate.Ss[m], m) << "month " << m;
    }
}

TEST(ParseClimatologyLine, EveryValueMustConvert) {
    const struct {
        std::string line;
        const char* message;
    } cases[] = {
        {"av_Ta,1,2,3,4,5,6,7,8,9,10,11", "'' is not a valid floating point value"},
        {DataLine("av_Ta", ",\t"), "'\t1' is not a valid floating point value"},
        {"Unknown,1,2,3,x,5,6,7,8,9,10,11,12", "'x' is not a valid floating point value"},
        {"# Average air temperature, deg.C", "'deg.C' is not a valid floating point value"},
        {"", "'' is not a valid floating point value"},
        {"av_P,1;2", "'1;2' is not a valid floating point value"},
    };
    for (const auto& c : cases) {
        TClimatology climate;
        EXPECT_EQ(testing::ErrorText([&] { ParseClimatologyLine(climate, c.line); }), c.message) << "line '" << c.line << "'";
    }
}

TEST(ReadClimatologyBytes, ABadLineEndsTheReadKeepingWhatCameBefore) {
    auto model = std::make_unique<TModel>();
    model->Climate = testing::BorealClimate();
    const TClimatology before = model->Climate;
    std::string badLine = DataLine("std_Ta", ",", 200);
    badLine[7] = '?';
    const std::string bytes = std::string(HEADER) + DataLine("av_Ta", ",", 100) + "\r\n#\r\n" + badLine +
                              "\r\n#\r\n" + DataLine("av_P", ",", 300) + "\r\n#";
    EXPECT_EQ(ReadError(*model, bytes), "'?00' is not a valid floating point value\nin line 5");
    EXPECT_EQ(model->Climate.av_Ta[1], 100);
    EXPECT_EQ(model->Climate.std_Ta[1], before.std_Ta[1]);
    EXPECT_EQ(model->Climate.av_P[1], before.av_P[1]);
    EXPECT_EQ(model->Climate.mu_P, before.mu_P);  // nothing derived
}

TEST(ReadClimatologyBytes, WithoutMeanPrecipitationTheDerivationFailsAfterTheRead) {
    auto model = std::make_unique<TModel>();  // as at program start: av_P is 0
    EXPECT_EQ(ReadError(*model, std::string(HEADER) + DataLine("Cv_P") + "\r\n#"), "Floating point division by zero\nin av_P and Cv_P of month 1");
    EXPECT_EQ(model->Climate.Cv_P[12], 12);
    EXPECT_EQ(model->Climate.sigma_P[1], std::sqrt(std::log(2.0)));
    EXPECT_EQ(model->Climate.sigma_P[2], 0);
}

TEST(ReadClimatologyFile, AMissingFileChangesNothingAndWarnsWithTheFormedName) {
    TempDir dir;
    auto model = std::make_unique<TModel>();
    model->Climate = testing::BorealClimate();
    RecordingNotifier notifier;
    EXPECT_FALSE(ReadClimatologyFile(*model, dir.File("climat"), notifier));
    EXPECT_EQ(notifier.warnings,
              std::vector<std::string>{"File climat parameters (" + dir.File("climat.cld") + ") not found."});
    EXPECT_EQ(model->Climate.av_P, testing::BorealClimate().av_P);
    EXPECT_EQ(model->Climate.mu_P, testing::BorealClimate().mu_P);
}

}  // namespace
}  // namespace kelmar
