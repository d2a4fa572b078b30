#include "app/open_commands.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "app/presentation/grid_texts.h"
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

    // A record of `years` years from 1961 whose soil temperature of March 1962 is given.
    std::string WeatherFile(const std::string& march1962Soil, int years = 3, const char* name = "weather.wed") {
        std::string text = "#\r\nYear,Month,Tair,Prec,Tsoil";
        for (int y = 1961; y < 1961 + years; ++y)
            for (int m = 1; m <= 12; ++m) {
                const std::string soil = (y == 1962 && m == 3) ? march1962Soil : "2.50";
                // Varied enough for the regressions of an estimate.
                text += "\r\n" + std::to_string(y) + "," + std::to_string(m) + "," + std::to_string(-3 + (y * m) % 7) +
                        "," + std::to_string(40 + (y + 3 * m) % 11) + "," + soil;
            }
        const fs::path path = dir / name;
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }
};

TEST_F(OpenCommands, SimulatedWeatherRunsFiveHundredYears) {
    const OpenResult result = OpenFilesSimulated(*model, view);
    EXPECT_TRUE(result.ran);
    EXPECT_EQ(result.outcome, RunOutcome::Completed);
    EXPECT_EQ(model->AvailableYears, 500);
    EXPECT_EQ(view.asked, (std::vector{FileDialog::SiteForRun, FileDialog::ClimatologyForSimulation}));
    EXPECT_EQ(view.events, (std::vector<std::string>{"site read", "show site", "climatology read",
                                                     "show climatology"}));
}

// The save commands refuse to overwrite these; the names are the readers'
// own, the extension added or replaced.
TEST_F(OpenCommands, TheResultNamesTheFilesTheRunRead) {
    view.answers[FileDialog::SiteForRun] = KELMAR_EXAMPLES_DIR "/soil";
    view.answers[FileDialog::ClimatologyForSimulation] = KELMAR_EXAMPLES_DIR "/climat.txt";
    const OpenResult simulated = OpenFilesSimulated(*model, view);
    EXPECT_EQ(simulated.read.site, KELMAR_EXAMPLES_DIR "/soil.sit");
    EXPECT_EQ(simulated.read.climatology, KELMAR_EXAMPLES_DIR "/climat.cld");
    EXPECT_EQ(simulated.read.weather, "");

    model = std::make_unique<TModel>();
    model->Settings.InpDat = true;
    const std::string record = WeatherFile("-99.90");
    view.answers[FileDialog::WeatherForRun] = record.substr(0, record.size() - 4);  // no extension
    const OpenResult fromFile = OpenFilesFromWeather(*model, view);
    EXPECT_EQ(fromFile.read.weather, record);
    EXPECT_EQ(fromFile.read.climatology, KELMAR_EXAMPLES_DIR "/climat.cld");  // for the soil gaps
    view.answers[FileDialog::WeatherForRun] = WeatherFile("2.50");
    EXPECT_EQ(OpenFilesFromWeather(*model, view).read.climatology, "");  // no gaps, none read
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
    EXPECT_NEAR(model->Climate.av_Ta[6], (-3 + (1961 * 6) % 7 - 3 + (1962 * 6) % 7 - 3 + (1963 * 6) % 7) / 3.0, 1e-12);
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

std::string ErrorOf(const std::function<void()>& command) {
    try {
        command();
    } catch (const KelmarError& e) {
        return e.what();
    }
    return "";
}

TEST_F(OpenCommands, WeatherWithoutAMonthStopsBeforeTheRun) {
    std::string text = "#\r\nYear,Month,Tair,Prec,Tsoil";
    for (int y = 1961; y <= 1963; ++y)
        for (int m = 1; m <= 12; ++m)
            if (!(y == 1962 && m == 12)) text += "\r\n" + std::to_string(y) + "," + std::to_string(m) + ",-3,40,2";
    text += "\r\n1963,12,-3,40,2";  // December 1963 twice: 36 lines, 3 years
    std::ofstream(dir / "gap.wed", std::ios::binary) << text;
    view.answers[FileDialog::WeatherForRun] = (dir / "gap.wed").string();
    model->Settings.InpDat = true;
    EXPECT_EQ(ErrorOf([&] { OpenFilesFromWeather(*model, view); }),
              "The weather record \"gap.wed\" has no air temperature or precipitation for 12.1962 (1 month in all). "
              "A run needs both for every month from 1.1961 to 12.1963; the record's years are its monthly lines "
              "divided by 12.");
    EXPECT_EQ(model->AvailableYears, 0);
    EXPECT_EQ(model->Results.At(1, 1).Year, 0) << "no run was made";
    EXPECT_EQ(view.asked, (std::vector{FileDialog::SiteForRun, FileDialog::WeatherForRun}));
}

TEST_F(OpenCommands, ClimatologiesWithoutTheGeneratorsCoefficientsAreRefused) {
    // Estimated from 3 years: no regression coefficients.
    view.answers[FileDialog::WeatherForEstimate] = WeatherFile("2.50");
    ASSERT_TRUE(GenerateClimatology(*model, view));
    ASSERT_EQ(view.warnings.size(), 1u);
    EXPECT_EQ(view.warnings[0],
              "The regression coefficient Baa for January could not be estimated and is missing (-99.90): the "
              "weather record, with 3 years, is too short for the regressions of the weather generator, which need "
              "at least 5 years. A simulated run refuses this climatology.");
    std::string cld = "VAR VALUE\r\n#";
    const ClimatologyTexts texts = ClimatologyValueTexts(model->Climate);
    for (int v = 0; v < CLIMATE_FIELD_COUNT; ++v) {
        cld += std::string("\r\n") + CLIMATE_FIELDS[v].Key;
        for (const std::string& text : texts[v]) cld += "," + text;
        cld += "\r\n#";
    }
    std::ofstream(dir / "short.cld", std::ios::binary) << cld;

    // Simulated weather: refused before the run.
    auto simulated = std::make_unique<TModel>();
    view.answers[FileDialog::ClimatologyForSimulation] = (dir / "short.cld").string();
    EXPECT_NE(ErrorOf([&] { OpenFilesSimulated(*simulated, view); })
                  .find("The climatology file \"short.cld\" has no Baa (regression coefficient) for January"),
              std::string::npos);
    EXPECT_EQ(simulated->AvailableYears, 0);

    // Weather from file: refused only when it has soil temperatures to fill.
    view.answers[FileDialog::ClimatologyForGaps] = (dir / "short.cld").string();
    for (const char* soil : {"2.50", "-99.90"}) {
        auto observed = std::make_unique<TModel>();
        observed->Settings.InpDat = true;
        view.answers[FileDialog::WeatherForRun] = WeatherFile(soil, 6, "six.wed");
        const std::string error = ErrorOf([&] { OpenFilesFromWeather(*observed, view); });
        if (std::string(soil) == "2.50") {
            EXPECT_EQ(error, "");
            EXPECT_EQ(observed->AvailableYears, 6);
        } else {
            EXPECT_NE(error.find("The climatology file \"short.cld\" has no Bss"), std::string::npos) << error;
            EXPECT_EQ(observed->AvailableYears, 0) << "the counting run stays";
            EXPECT_EQ(observed->Results.At(1, 1).Year, 0) << "the counting run stays";
        }
    }
}

TEST_F(OpenCommands, EstimateRefusesARecordWithoutAYearOrThatOverflows) {
    const struct {
        const char* name;
        const char* text;
        const char* error;
    } cases[] = {
        {"no data line", "#\r\nYear,Month,Tair,Prec,Tsoil",
         "The weather record \"fuzz.wed\" has no year with an air temperature or a precipitation; no climatology "
         "can be estimated from it."},
        {"eleven months", "#\r\nYear,Month,Tair,Prec\r\n1961,1,1,1\r\n1961,2,1,1\r\n1961,3,1,1",
         "The weather record \"fuzz.wed\" has no year with an air temperature or a precipitation; no climatology "
         "can be estimated from it."},
    };
    for (const auto& c : cases) {
        std::ofstream(dir / "fuzz.wed", std::ios::binary) << c.text;
        view.answers[FileDialog::WeatherForEstimate] = (dir / "fuzz.wed").string();
        model->Climate.av_Ta[4] = 7.5;
        EXPECT_EQ(ErrorOf([&] { GenerateClimatology(*model, view); }), c.error) << c.name;
        EXPECT_EQ(model->Climate.av_Ta[4], 7.5) << c.name << ": the climatology changed";
    }

    // Air temperatures near the largest double: the mean overflows.
    std::string text = "#\r\nYear,Month,Tair,Prec";
    for (int y = 1961; y <= 1966; ++y)
        for (int m = 1; m <= 12; ++m)
            text += "\r\n" + std::to_string(y) + "," + std::to_string(m) + (m == 4 ? ",1e308" : ",2") + ",40";
    std::ofstream(dir / "huge.wed", std::ios::binary) << text;
    view.answers[FileDialog::WeatherForEstimate] = (dir / "huge.wed").string();
    EXPECT_EQ(ErrorOf([&] { GenerateClimatology(*model, view); }),
              "The climatology estimated from the weather record has no finite av_Ta (mean air temperature) for "
              "April: the record's air temperatures for April hold values too large to compute it. No climatology "
              "was estimated.");
    EXPECT_EQ(model->Climate.av_Ta[4], 7.5);
}

TEST_F(OpenCommands, GapClimatologyThatIsNotFoundIsReported) {
    view.answers[FileDialog::WeatherForRun] = WeatherFile("-99.90");
    view.answers[FileDialog::ClimatologyForGaps] = (dir / "nosuch.cld").string();
    model->Settings.InpDat = true;
    const OpenResult result = OpenFilesFromWeather(*model, view);
    EXPECT_TRUE(result.ran) << "the run goes on, as the window's flow has it";
    EXPECT_TRUE(result.gapClimatologyNotFound);
    ASSERT_EQ(view.warnings.size(), 1u);
    EXPECT_EQ(view.warnings[0], "File climat parameters (" + (dir / "nosuch.cld").string() + ") not found.");
}

}  // namespace
}  // namespace kelmar
