#include "app/save_commands.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "app/presentation/grid_texts.h"
#include "model/errors.h"

namespace kelmar {
namespace {

namespace fs = std::filesystem;

std::string Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The three input files of a run, each with bytes of its own, and the texts
// each save writes.
struct SaveCommands : ::testing::Test {
    fs::path dir = fs::temp_directory_path() / ("kelmar-save-" + std::to_string(::getpid()));
    RunInputs read;
    SiteTexts site = SiteValueTexts(TSiteParams{});
    ClimatologyTexts climate = ClimatologyValueTexts(TClimatology{});
    std::vector<WeatherRowTexts> weather = {{"1961", "1", "-10.00", "30.00", "-1.00"}};

    void SetUp() override {
        fs::create_directories(dir);
        read = {(dir / "soil.sit").string(), (dir / "climat.cld").string(), (dir / "weather.wed").string()};
        for (const std::string* name : {&read.site, &read.climatology, &read.weather})
            std::ofstream(*name, std::ios::binary) << "the input " << *name;
    }
    void TearDown() override { fs::remove_all(dir); }

    enum class Save { Site, Climatology, Weather };
    void Run(Save save, const std::string& name) {
        switch (save) {
            case Save::Site: SaveSite(name, site, read); break;
            case Save::Climatology: SaveClimatology(name, climate, read); break;
            case Save::Weather: SaveWeather(name, weather, read); break;
        }
    }
};

// Each save aimed at each input of the run: written only where it edits the
// file of its own kind, refused (naming the file, the file unchanged) where
// data would be lost.
TEST_F(SaveCommands, RefuseOnlyWhereAnInputWouldBeLost) {
    const struct {
        Save save;
        const std::string RunInputs::*target;
        bool written;
        const char* what;  // the input named in the refusal
    } cases[] = {
        {Save::Site, &RunInputs::site, true, ""},
        {Save::Site, &RunInputs::climatology, false, "is the climatology file the run read"},
        {Save::Site, &RunInputs::weather, false, "is the weather record the run read"},
        {Save::Climatology, &RunInputs::climatology, true, ""},
        {Save::Climatology, &RunInputs::site, false, "is the site file the run read"},
        {Save::Climatology, &RunInputs::weather, false, "is the weather record the run read"},
        {Save::Weather, &RunInputs::weather, false, "gaps filled"},
        {Save::Weather, &RunInputs::site, false, "is the site file the run read"},
        {Save::Weather, &RunInputs::climatology, false, "is the climatology file the run read"},
    };
    for (const auto& c : cases) {
        SetUp();
        const std::string name = read.*c.target;
        const std::string before = Bytes(name);
        std::string error;
        try {
            Run(c.save, name);
        } catch (const KelmarError& e) {
            error = e.what();
        }
        const std::string context = "save " + std::to_string(int(c.save)) + " over " + name;
        if (c.written) {
            EXPECT_EQ(error, "") << context;
            EXPECT_NE(Bytes(name), before) << context;
        } else {
            EXPECT_NE(error.find("\"" + name + "\""), std::string::npos) << context << ": " << error;
            EXPECT_NE(error.find(c.what), std::string::npos) << context << ": " << error;
            EXPECT_EQ(Bytes(name), before) << context;
        }
    }
}

TEST_F(SaveCommands, AnotherNameForTheSameInputIsRefusedAndOtherFilesAreWritten) {
    const fs::path link = dir / "record-link.wed";
    fs::create_symlink(read.weather, link);
    EXPECT_THROW(SaveWeather(link.string(), weather, read), KelmarError);
    EXPECT_THROW(SaveSite((dir / "." / "weather.wed").string(), site, read), KelmarError);

    SaveWeather((dir / "filled.wed").string(), weather, read);
    EXPECT_EQ(Bytes(dir / "filled.wed"), "#\r\nYear,Month,Tair,Prec,Tsoil\r\n1961,1,-10.00,30.00,-1.00");
    // Without a run every save goes ahead.
    SaveWeather(read.weather, weather, RunInputs{});
    EXPECT_EQ(Bytes(read.weather), Bytes(dir / "filled.wed"));
}

}  // namespace
}  // namespace kelmar
