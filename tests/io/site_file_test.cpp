#include "io/site_file.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "app/presentation/grid_texts.h"
#include "io/io_test_support.h"
#include "model/errors.h"
#include "model/model_fixtures.h"

namespace fs = std::filesystem;

namespace kelmar {
namespace {

using testing::ReadBytes;
using testing::RecordingNotifier;
using testing::TempDir;
using testing::WriteBytes;

// The file written from the grid of testing::WorkedSite with Saturat 1.
constexpr const char* WORKED_SITE_FILE =
    "VAR VALUE\r\n#\r\n"
    "Lat,61.80\r\n# Latitude, deg.\r\n"
    "M_ff,2.00\r\n# organic layer mass per area [kg/m^2]\r\n"
    "D_ff,0.10\r\n# organic layer bulk density, g/cm^3 = 10^3 kg/m^3\r\n"
    "W_WP_ff,2.50\r\n# organic layer moisture (% vol) at permanent wilting point\r\n"
    "W_FC_ff,10.00\r\n# organic layer moisture (% vol) at field capasity\r\n"
    "W_Sat_ff,97.00\r\n# organic layer moisture (% vol) at saturation conditions\r\n"
    "D_ms,1.20\r\n# mineral soil bulk density [g/m^3]\r\n"
    "W_WP_ms,5.00\r\n# mineral soil moisture at permanent wilting point [vol.%]\r\n"
    "W_FC_ms,20.00\r\n# mineral soil moisture at field capa\xF1ity [vol.%]\r\n"
    "W_Sat_ms,40.00\r\n# mineral soil moisture at full saturation [vol.%]\r\n"
    "Wv0_ms,15.00\r\n# Initial value of mineral soil moisture [vol.%]\r\n"
    "Corr,1.50\r\n# correction factor for calculation Litter moisture, vol.%, from mineral soil moisture, vol.%\r\n"
    "Saturat,1\r\n# presence of ground water table in the 100 cm layer: 1 - yes, 0 - no\r\n"
    "Permafr,0\r\n# presence of Permafrost 1 - yes, 0 - no\r\n"
    "Fortype,1\r\n# forest type: 1-spruce, 2-pine, 3-birch, 4-oak, 0-non-defined (some average parameters used)";

TSiteParams WorkedSiteWithGroundWater() {
    TSiteParams site = testing::WorkedSite();
    site.Saturat = 1;
    return site;
}

// The message of the KelmarError the read raises, or "" when it raises none.
std::string ReadError(TModel& model, const std::string& bytes) {
    return testing::ErrorText([&] { ReadSiteBytes(model, bytes); });
}

TEST(WriteSiteFile, WritesTheValueTextsBetweenTheFixedLines) {
    TempDir dir;
    WriteSiteFile(dir.File("soil.sit"), SiteValueTexts(WorkedSiteWithGroundWater()));
    EXPECT_EQ(ReadBytes(dir.File("soil.sit")), WORKED_SITE_FILE);
}

TEST(WriteSiteFile, WritesTypedTextAsItIsInTheFilesCodePage) {
    TempDir dir;
    SiteTexts texts = SiteValueTexts(testing::WorkedSite());
    texts[0] = " 61,5\u00b0 ";
    WriteSiteFile(dir.File("typed.sit"), texts);
    const std::string bytes = ReadBytes(dir.File("typed.sit"));
    EXPECT_NE(bytes.find("\r\nLat, 61,5\xB0 \r\n"), std::string::npos);

    auto model = std::make_unique<TModel>();
    EXPECT_EQ(ReadError(*model, bytes), "'61,5\u00b0' is not a valid floating point value\nin line 3");
}

TEST(ReadSiteFile, ReadsBackWhatWasWrittenAtTwoDecimals) {
    TSiteParams site = testing::WorkedSite();
    site.Lat = -61.125;
    site.M_ff = 3.14159;
    site.Corr = 0.004;
    site.Permafr = 1;
    site.Fortype = ftOak;
    TempDir dir;
    WriteSiteFile(dir.File("soil.sit"), SiteValueTexts(site));

    auto model = std::make_unique<TModel>();
    RecordingNotifier notifier;
    ASSERT_TRUE(ReadSiteFile(*model, dir.File("soil.sit"), notifier));
    EXPECT_TRUE(notifier.warnings.empty());
    const TSiteParams& read = model->Site;
    for (const SiteField& field : SITE_FIELDS) {
        if (field.Kind != FieldKind::Real) continue;
        EXPECT_NEAR(read.*field.Real, site.*field.Real, 0.005 + 1e-12) << field.Key;
    }
    EXPECT_EQ(read.Lat, -61.13);  // an exact half rounds away from zero
    EXPECT_EQ(read.Saturat, 0);
    EXPECT_EQ(read.Permafr, 1);
    EXPECT_EQ(read.Fortype, ftOak);
}

TEST(ReadSiteFile, AMissingFileStillSetsTheDefaultsAndWarnsWithTheFormedName) {
    TempDir dir;
    auto model = std::make_unique<TModel>();
    model->Site.Lat = 61.8;
    model->Site.D_ff = 0.3;
    RecordingNotifier notifier;
    EXPECT_FALSE(ReadSiteFile(*model, dir.File("soil"), notifier));
    EXPECT_EQ(notifier.warnings, std::vector<std::string>{"File soil parameters (" + dir.File("soil.sit") + ") not found."});
    EXPECT_EQ(model->Site.Lat, 61.8);
    EXPECT_EQ(model->Site.D_ff, 0.05);
    EXPECT_EQ(model->Site.W_WP_ff, 2.5);
    EXPECT_EQ(model->Site.W_FC_ff, 10);
    EXPECT_EQ(model->Site.W_Sat_ff, 97);
    EXPECT_EQ(model->Site.Fortype, ftSpruce);
}

TEST(ReadSiteFile, FormsTheNameAndKeepsDefaultsForOmittedKeys) {
    TempDir dir;
    WriteBytes(dir.File("soil.sit"), "VAR VALUE\r\n#\r\nLat,50\r\n#");
    auto model = std::make_unique<TModel>();
    model->Site.M_ff = 4;
    RecordingNotifier notifier;
    ASSERT_TRUE(ReadSiteFile(*model, dir.File("soil"), notifier));  // read as soil.sit
    EXPECT_EQ(model->Site.Lat, 50);
    EXPECT_EQ(model->Site.M_ff, 4);  // not in the file: as it was
    EXPECT_EQ(model->Site.W_Sat_ff, 97);

    // Only the file's own name decides: a full stop in a folder does not
    // keep ".sit" away, one in the name does.
    fs::create_directory(dir.File("data.old"));
    WriteBytes(dir.File("data.old") + "/soil.sit", "VAR VALUE\r\n#\r\nLat,51\r\n#");
    ASSERT_TRUE(ReadSiteFile(*model, dir.File("data.old") + "/soil", notifier));
    EXPECT_EQ(model->Site.Lat, 51);
    EXPECT_TRUE(notifier.warnings.empty());
    EXPECT_FALSE(ReadSiteFile(*model, dir.File("data.old") + "/soil.v2", notifier));
    ASSERT_EQ(notifier.warnings.size(), 1u);
    EXPECT_EQ(notifier.warnings.back(), "File soil parameters (" + dir.File("data.old") + "/soil.v2) not found.");
}

TEST(ParseSiteLine, StoresByExactKeyAfterTrimmingTheValue) {
    const struct {
        const char* line;
        double lat;
        int saturat;
        int fortype;
    } cases[] = {
        {"Lat, \t61.5 \t", 61.5, 0, 0},
        {"Lat,1e1", 10, 0, 0},
        {" Lat,61.5", 0, 0, 0},  // the key is taken untrimmed
        {"lat,61.5", 0, 0, 0},
        {"Latitude,61.5", 0, 0, 0},
        {"Saturat,1", 0, 1, 0},
        {"Saturat, 257 ", 0, 1, 0},  // the low eight bits
        {"Fortype,-1", 0, 0, 255},
        {"Fortype,+2", 0, 0, 2},
    };
    for (const auto& c : cases) {
        TSiteParams site;
        ParseSiteLine(site, c.line);
        EXPECT_EQ(site.Lat, c.lat) << "line '" << c.line << "'";
        EXPECT_EQ(site.Saturat, c.saturat) << "line '" << c.line << "'";
        EXPECT_EQ(site.Fortype, c.fortype) << "line '" << c.line << "'";
    }
}

TEST(ParseSiteLine, EveryValueMustBeANumberAndEveryFlagAnInteger) {
    const struct {
        const char* line;
        const char* message;
    } cases[] = {
        {"Lat,61,5", "'61,5' is not a valid floating point value"},
        {"Unknown,abc", "'abc' is not a valid floating point value"},
        {"# Latitude, deg.", "'deg.' is not a valid floating point value"},
        {"", "'' is not a valid floating point value"},
        {"Lat,1e999", "'1e999' is not a valid floating point value"},
        {"Saturat,1.0", "''1.0'' is not a valid integer value"},
        {"Permafr,1e0", "''1e0'' is not a valid integer value"},
        {"Fortype,3000000000", "''3000000000'' is not a valid integer value"},
    };
    for (const auto& c : cases) {
        TSiteParams site;
        EXPECT_EQ(testing::ErrorText([&] { ParseSiteLine(site, c.line); }), c.message) << "line '" << c.line << "'";
    }
}

TEST(ReadSiteBytes, TakesLinesStrictlyInPairsAfterTheHeader) {
    // Data lines without comment lines: only every other one is read.
    auto model = std::make_unique<TModel>();
    EXPECT_EQ(ReadError(*model, "VAR VALUE\n#\nLat,1\nM_ff,2\nD_ff,3\nW_WP_ff,4\nW_FC_ff,5"), "");
    EXPECT_EQ(model->Site.Lat, 1);
    EXPECT_EQ(model->Site.M_ff, 0);
    EXPECT_EQ(model->Site.D_ff, 3);
    EXPECT_EQ(model->Site.W_WP_ff, 0);
    EXPECT_EQ(model->Site.W_FC_ff, 5);

    // A key given twice: the later line wins. A lone CR is dropped; the end
    // of file mark ends the file.
    model = std::make_unique<TModel>();
    EXPECT_EQ(ReadError(*model, "h\r\n#\r\nLat,1\r\n#\r\nLat,6\r2\r\n#\x1A\r\nnot a pair"), "");
    EXPECT_EQ(model->Site.Lat, 62);
}

TEST(ReadSiteBytes, ABadLineEndsTheReadKeepingWhatCameBefore) {
    auto model = std::make_unique<TModel>();
    model->Site.D_ff = 0.3;
    EXPECT_EQ(ReadError(*model, "VAR VALUE\r\n#\r\nLat,61.8\r\n#\r\nM_ff,2,0\r\n#\r\nD_ff,0.1\r\n#"),
              "'2,0' is not a valid floating point value\nin line 5");
    EXPECT_EQ(model->Site.Lat, 61.8);
    EXPECT_EQ(model->Site.M_ff, 0);
    EXPECT_EQ(model->Site.D_ff, 0.3);

    // A blank line after the last pair is a data line with no value.
    model = std::make_unique<TModel>();
    EXPECT_EQ(ReadError(*model, std::string(WORKED_SITE_FILE) + "\r\n\r\n"),
              "'' is not a valid floating point value\nin line 33");
    EXPECT_EQ(model->Site.Fortype, ftSpruce);
}

TEST(ReadSiteFile, ReadsTheExampleSite) {
    auto model = std::make_unique<TModel>();
    RecordingNotifier notifier;
    ASSERT_TRUE(ReadSiteFile(*model, KELMAR_EXAMPLES_DIR "/soil.sit", notifier));
    EXPECT_EQ(model->Site.Lat, 61.8);
    EXPECT_EQ(model->Site.W_FC_ff, 45);
}

}  // namespace
}  // namespace kelmar
