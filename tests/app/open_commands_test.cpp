#include "app/open_commands.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <vector>

#include "model/errors.h"

namespace kelmar {
namespace {

namespace fs = std::filesystem;

// Answers the dialogs from a table and records what the commands asked and showed.
class ScriptedView : public WorkflowView {
public:
    std::map<FileDialog, std::string> answers;
    std::vector<FileDialog> asked;
    std::vector<std::string> warnings;
    std::vector<std::string> events;

    std::optional<std::string> AskFile(FileDialog dialog) override {
        asked.push_back(dialog);
        const auto it = answers.find(dialog);
        if (it == answers.end()) return std::nullopt;
        return it->second;
    }
    void Warning(const std::string& text) override { warnings.push_back(text); }
    void SiteFileRead() override { events.push_back("site read"); }
    void ClimatologyFileRead() override { events.push_back("climatology read"); }
    void WeatherFileOpened() override { events.push_back("weather opened"); }
    void ShowSiteParams() override { events.push_back("show site"); }
    void ShowClimatology() override { events.push_back("show climatology"); }
};

struct OpenCommands : ::testing::Test {
    fs::path dir = fs::temp_directory_path() / ("kelmar-open-" + std::to_string(::getpid()));
    std::unique_ptr<TModel> model = std::make_unique<TModel>();
    ScriptedView view;

    void SetUp() override {
        fs::create_directories(dir);
        model->Random.SetState(11);
        view.answers[FileDialog::SiteForRun] = KELMAR_EXAMPLES_DIR "/soil.sit";
        view.answers[FileDialog::ClimatologyForSimulation] = KELMAR_EXAMPLES_DIR "/climat.cld";
        view.answers[FileDialog::ClimatologyForGaps] = KELMAR_EXAMPLES_DIR "/climat.cld";
    }
    void TearDown() override { fs::remove_all(dir); }

    // A three-year record from 1961 whose soil temperature of March 1962 is given.
    std::string WeatherFile(const std::string& march1962Soil) {
        std::string text = "#\r\nYear,Month,Tair,Prec,Tsoil";
        for (int y = 1961; y <= 1963; ++y)
            for (int m = 1; m <= 12; ++m) {
                const std::string soil = (y == 1962 && m == 3) ? march1962Soil : "2.50";
                text += "\r\n" + std::to_string(y) + "," + std::to_string(m) + ",-3.00,40.00," + soil;
            }
        const fs::path path = dir / "weather.wed";
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }
};

TEST_F(OpenCommands, SimulatedWeatherRunsFiveHundredYears) {
    const OpenResult result = OpenFilesSimulated(*model, view);
    EXPECT_TRUE(result.ran);
    EXPECT_EQ(result.outcome, RunOutcome::Completed);
    EXPECT_EQ(model->AvailableYears, 500);
    EXPECT_EQ(model->Settings.YearCount, 0);
    EXPECT_EQ(view.asked, (std::vector{FileDialog::SiteForRun, FileDialog::ClimatologyForSimulation}));
    EXPECT_EQ(view.events, (std::vector<std::string>{"site read", "show site", "climatology read",
                                                     "show climatology"}));
}

TEST_F(OpenCommands, ClimatologyIsAskedOnlyForSoilTemperatureGaps) {
    const struct {
        const char* soil;
        bool asks;
    } cases[] = {{"2.50", false}, {"-99.90", true}, {"-95.00", false}, {"", true}};
    for (const auto& c : cases) {
        model = std::make_unique<TModel>();
        model->Settings.InpDat = true;
        view.asked.clear();
        view.answers[FileDialog::WeatherForRun] = WeatherFile(c.soil);
        const OpenResult result = OpenFilesFromWeather(*model, view);
        EXPECT_TRUE(result.ran) << "soil text '" << c.soil << "'";
        EXPECT_EQ(result.weatherFileName, "weather.wed");
        EXPECT_EQ(model->AvailableYears, 3);
        const bool asked = view.asked.size() == 3 && view.asked[2] == FileDialog::ClimatologyForGaps;
        EXPECT_EQ(asked, c.asks) << "soil text '" << c.soil << "'";
        EXPECT_EQ(view.asked.size(), c.asks ? 3u : 2u) << "soil text '" << c.soil << "'";
    }
}

TEST_F(OpenCommands, CancelledOrMissingFilesEndTheCommandQuietly) {
    view.answers.erase(FileDialog::WeatherForRun);  // cancel the weather dialog
    OpenResult result = OpenFilesFromWeather(*model, view);
    EXPECT_FALSE(result.ran);
    EXPECT_EQ(view.events, (std::vector<std::string>{"site read", "show site"}));  // the site stays read
    EXPECT_NEAR(model->Site.Lat, 61.8, 1e-12);
    EXPECT_TRUE(view.warnings.empty());

    view.answers[FileDialog::WeatherForRun] = (dir / "absent.wed").string();
    result = OpenFilesFromWeather(*model, view);
    EXPECT_FALSE(result.ran);
    ASSERT_EQ(view.warnings.size(), 1u);
    EXPECT_EQ(view.warnings[0], "File weather parameters (" + (dir / "absent.wed").string() + ") not found.");
}

TEST_F(OpenCommands, CancelledClimatologyStillRunsTwice) {
    view.answers.erase(FileDialog::ClimatologyForGaps);
    view.answers[FileDialog::WeatherForRun] = WeatherFile("-99.90");
    model->Settings.InpDat = true;
    const OpenResult result = OpenFilesFromWeather(*model, view);
    EXPECT_TRUE(result.ran);
    EXPECT_EQ(model->AvailableYears, 3);
    // The gap was filled from the empty climatology by one draw after the two December draws.
    EXPECT_NE(model->Results.At(2, 3).Tsoil, MISSING_VALUE);
}

TEST_F(OpenCommands, GenerateEstimatesFromTheWeatherRecord) {
    view.answers[FileDialog::WeatherForEstimate] = WeatherFile("2.50");
    EXPECT_TRUE(GenerateClimatology(*model, view));
    EXPECT_EQ(model->Climate.av_Ta[6], -3.0);
    EXPECT_EQ(model->Climate.av_P[6], 40.0);
    EXPECT_EQ(view.events.back(), "show climatology");
    EXPECT_EQ(view.events.front(), "weather opened");
}

TEST_F(OpenCommands, MalformedWeatherFileStillCountsAsOpened) {
    const fs::path path = dir / "broken.wed";
    std::ofstream(path, std::ios::binary) << "#\r\nYear,Month,Tair,Prec,Tsoil\r\n1961,1,abc,40,1";
    view.answers[FileDialog::WeatherForEstimate] = path.string();
    try {
        GenerateClimatology(*model, view);
        ADD_FAILURE() << "no conversion error";
    } catch (const KelmarError& e) {
        EXPECT_EQ(e.what(), "'abc' is not a valid floating point value\nin \"" + path.string() + "\", line 3");
    }
    EXPECT_EQ(view.events, (std::vector<std::string>{"weather opened"}));
}

}  // namespace
}  // namespace kelmar
