// The scenario file: what it sets, and the lines it refuses.
#include "io/scenario_file.h"

#include <gtest/gtest.h>

#include "io/io_test_support.h"

namespace kelmar {
namespace {

using kelmar::testing::ErrorText;

TEST(ScenarioFile, ReadsOneOrTwelveValuesAndComments) {
    const TScenario s = ParseScenarioText(
        "# warmer, wetter winters\r\n"
        "name = wet winters   # shown with the results\n"
        "delta_t = 1, 1, 0.5, 0, 0, 0, 0, 0, 0, 0.5, 1, 2\n"
        "\n"
        "precip_factor=1.2\n"
        "trend_t = 2.5\n",
        "dir/wet.scn");
    EXPECT_EQ(s.Name, "wet winters");
    EXPECT_EQ(s.DeltaT[1], 1);
    EXPECT_EQ(s.DeltaT[3], 0.5);
    EXPECT_EQ(s.DeltaT[12], 2);
    for (int k = 1; k <= 12; ++k) EXPECT_EQ(s.PrecFactor[k], 1.2) << "month " << k;
    EXPECT_EQ(s.Variability, 1);
    EXPECT_EQ(s.TrendT, 2.5);
    EXPECT_EQ(s.TrendPrec, 0);
    EXPECT_EQ(ParseScenarioText("delta_t = 1\n", "dir/plus1.txt").Name, "plus1") << "the file's name by default";
}

TEST(ScenarioFile, RefusesLinesNamingFileAndLine) {
    const struct {
        const char* text;
        const char* expected;
    } cases[] = {
        {"name = a\ndelta = 2\n", "The key \"delta\" is unknown"},
        {"delta_t = 1\ndelta_t = 2\n", "given twice.\nin \"s.scn\", line 2"},
        {"delta_t = 1, 2, 3\n", "one value or twelve (January to December), not 3"},
        {"variability = 1, 2\n", "variability takes one value, not 2"},
        {"# c\nprecip_factor = 0,9\n", "not 2.\nin \"s.scn\", line 2"},
        {"trend_t = warm\n", "'warm' is not a valid floating point value\nin \"s.scn\", line 1"},
        {"delta_t 2\n", "\"key = value\""},
        {"name =\n", "The name is empty"},
    };
    for (const auto& c : cases) {
        const std::string message = ErrorText([&] { ParseScenarioText(c.text, "s.scn"); });
        EXPECT_NE(message.find(c.expected), std::string::npos) << c.text << "\n-> " << message;
    }
    EXPECT_NE(ErrorText([] { ReadScenarioFile("/nonexistent/s.scn"); }).find("Scenario file (/nonexistent/s.scn) not found."),
              std::string::npos);
}

}  // namespace
}  // namespace kelmar
