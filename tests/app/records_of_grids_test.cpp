// The site and climatology grids read back: edited texts to numbers as grid
// cells convert, and the check that stops a save of a text the file readers
// would refuse.
#include "app/presentation/records_of_grids.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>

#include "app/presentation/grid_texts.h"
#include "model/errors.h"
#include "model/model_fixtures.h"

namespace kelmar {
namespace {

// The fifteen site values in grid-row order.
std::array<double, 15> RowValues(const TSiteParams& s) {
    return {s.Lat,     s.M_ff,     s.D_ff,   s.W_WP_ff, s.W_FC_ff,  s.W_Sat_ff, s.D_ms,   s.W_WP_ms,
            s.W_FC_ms, s.W_Sat_ms, s.Wv0_ms, s.Corr,    double(s.Saturat), double(s.Permafr), double(s.Fortype)};
}

// The message of the check's error, or nothing when it passes.
template <typename Check>
std::optional<std::string> Refusal(Check check, const TextGrid& grid) {
    try {
        check(grid);
    } catch (const KelmarError& e) {
        return e.what();
    }
    return std::nullopt;
}

TEST(SiteOfGrid, ReadsTheShownSiteBackAndEditedCellsAsGridCellsConvert) {
    TSiteParams worked = testing::WorkedSite();
    worked.Permafr = 1;
    TextGrid grid = SiteGridTexts(worked);
    EXPECT_EQ(RowValues(SiteOfGrid(grid)), RowValues(worked));

    struct Edit {
        int row;
        const char* text;
        double value;
    };
    // Rows 12..14 are the flags: rounded to even, kept within 0..255.
    const Edit edits[] = {
        {0, "  2.5", 2.5},  {1, "2,5", 0},     {2, "-1e2", -100}, {3, ".5", 0.5},    {4, "1e999", 0},
        {5, "2.5 ", 0},     {6, "", 0},        {7, "+7", 7},      {12, "0.5", 0},    {13, "1.5", 2},
        {14, "2.5", 2},     {14, "4", 4},      {12, "-3", 0},     {13, "300", 255},  {11, "abc", 0},
    };
    for (const Edit& e : edits) {
        grid.SetCell(SITE_VALUE_COLUMN, e.row, e.text);
        EXPECT_EQ(RowValues(SiteOfGrid(grid))[e.row], e.value) << "row " << e.row << " text \"" << e.text << '"';
    }
}

TEST(GridNumberChecks, NameTheFirstCellTheReadersWouldRefuse) {
    const TextGrid site = SiteGridTexts(testing::WorkedSite());
    const TextGrid climate = ClimatologyGridTexts(testing::BorealClimate());
    EXPECT_EQ(Refusal(CheckSiteGridNumbers, site), std::nullopt);
    EXPECT_EQ(Refusal(CheckClimatologyGridNumbers, climate), std::nullopt);

    TextGrid badSite = site;
    badSite.SetCell(SITE_VALUE_COLUMN, 13, "yes");  // a flag row: set by the buttons, not checked
    EXPECT_EQ(Refusal(CheckSiteGridNumbers, badSite), std::nullopt);
    badSite.SetCell(SITE_VALUE_COLUMN, 11, "");
    badSite.SetCell(SITE_VALUE_COLUMN, 4, "1,5");
    EXPECT_EQ(Refusal(CheckSiteGridNumbers, badSite),
              "'1,5' is not a valid floating point value\nSite parameters, row \"" + site.Cell(0, 4) + "\"");

    // Month by month: February's last column comes before March's first.
    TextGrid badClimate = climate;
    badClimate.SetCell(1, 3, "x");
    badClimate.SetCell(12, 2, "12,5");
    EXPECT_EQ(Refusal(CheckClimatologyGridNumbers, badClimate),
              "'12,5' is not a valid floating point value\nClimatology, row \"Feb\", column \"" +
                  climate.Cell(12, 0) + "\"");
}

}  // namespace
}  // namespace kelmar
