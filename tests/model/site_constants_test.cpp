#include "model/site_constants.h"

#include <gtest/gtest.h>

#include "model/errors.h"
#include "model/model_fixtures.h"

namespace kelmar {
namespace {

using testing::Months;
using testing::WorkedSite;

// The text with which the worked site, broken by `breakSite`, is refused
// before a run ("" when it is not refused).
std::string RefusalOf(void (*breakSite)(TSiteParams&)) {
    TSiteParams site = WorkedSite();
    breakSite(site);
    try {
        ValidateSiteForRun(site, ComputeSiteConstants(site, TClimatology{}));
    } catch (const KelmarError& e) {
        return e.what();
    }
    return "";
}

TEST(SiteConstants, WorkedStoragesAndCriticalStorages) {
    TSiteParams site = WorkedSite();
    TClimatology climate;  // zeros: class 0 in months 1..6, class 5 in months 7..12
    climate.av_Ta = Months({-10, -9, -4, 3, 10, 15, 17, 15, 9, 3, -3, -8});

    TSiteConstants c = ComputeSiteConstants(site, climate);
    EXPECT_NEAR(c.H_ff, 0.02, 1e-15);
    EXPECT_NEAR(c.S_WP, 50.5, 1e-12);
    EXPECT_NEAR(c.S_FC, 151.5, 1e-12);
    EXPECT_NEAR(c.S_Sat, 368.9, 1e-12);
    EXPECT_NEAR(c.S_0, 104.0, 1e-12);
    EXPECT_NEAR(c.S_lim, 151.5, 1e-12);
    EXPECT_NEAR(c.S_crit[1], 151.5, 1e-12);    // class 0
    EXPECT_NEAR(c.S_crit[6], 128.775, 1e-12);  // class 1

    site.Saturat = 1;
    c = ComputeSiteConstants(site, climate);
    EXPECT_NEAR(c.S_lim, 368.9, 1e-12);
    EXPECT_NEAR(c.S_crit[1], 210.8, 1e-12);
    EXPECT_NEAR(c.S_crit[6], 179.18, 1e-12);

    site.Saturat = 2;  // anything but 1 means no ground water
    EXPECT_NEAR(ComputeSiteConstants(site, climate).S_lim, 151.5, 1e-12);
}

// Season factors month by month, read back from S_crit = factor * S_FC / 200.
std::array<double, 12> SeasonFactors(const TSiteParams& site, const MonthArray& av_Ta) {
    TClimatology climate;
    climate.av_Ta = av_Ta;
    const TSiteConstants c = ComputeSiteConstants(site, climate);
    std::array<double, 12> factors{};
    for (int k = 1; k <= 12; ++k) factors[k - 1] = std::round(c.S_crit[k] * 200 / c.S_FC);
    return factors;
}

TEST(SiteConstants, SeasonClassesFollowTheRules) {
    struct Case {
        const char* name;
        MonthArray av_Ta;
        std::uint8_t permafrost;
        std::array<double, 12> factors;
    } cases[] = {
        {"boreal, exactly 10 in May and 3 in October",
         Months({-10, -9, -4, 3, 10, 15, 17, 15, 9, 3, -3, -8}), 0,
         {200, 200, 200, 200, 200, 170, 150, 150, 150, 150, 200, 200}},
        {"nothing loaded", Months({}), 0,
         {200, 200, 200, 200, 200, 200, 200, 200, 200, 200, 200, 200}},
        {"first cold month after a mild one",
         Months({-5, -4, 0, 6, 12, 16, 18, 17, 12, 5, 2, -3}), 0,
         {200, 200, 200, 200, 170, 150, 150, 150, 150, 150, 170, 200}},
        {"permafrost", Months({-5, -4, 0, 6, 12, 16, 18, 17, 12, 5, 2, -3}), 1,
         {200, 200, 200, 200, 200, 200, 200, 200, 200, 200, 200, 200}},
        {"warm all year stays in class 3",
         Months({11, 12, 13, 14, 15, 16, 17, 16, 15, 14, 13, 12}), 0,
         {170, 150, 150, 150, 150, 150, 150, 150, 150, 150, 150, 150}},
    };
    for (const Case& c : cases) {
        TSiteParams site = testing::WorkedSite();
        site.Permafr = c.permafrost;
        EXPECT_EQ(SeasonFactors(site, c.av_Ta), c.factors) << c.name;
    }
}

TEST(SiteConstants, ForestOffsetRows) {
    TSiteParams site = WorkedSite();
    const TClimatology climate;
    site.Fortype = ftPine;
    EXPECT_EQ(ComputeSiteConstants(site, climate).ForestOffset[6], -4.3);
    site.Fortype = ftOak;
    EXPECT_EQ(ComputeSiteConstants(site, climate).ForestOffset[2], 1.2);
    site.Fortype = 7;  // unknown codes use the row Other
    EXPECT_EQ(ComputeSiteConstants(site, climate).ForestOffset[1], 0.4);
    site.Fortype = ftOther;
    EXPECT_EQ(ComputeSiteConstants(site, climate).ForestOffset[12], 0.6);
}

TEST(SiteConstants, ValidationNamesTheParameter) {
    struct Case {
        const char* expectedName;
        void (*breakSite)(TSiteParams&);
    } cases[] = {
        {"D_ff", [](TSiteParams& s) { s.D_ff = 0; }},
        {"D_ms", [](TSiteParams& s) { s.D_ms = 0; }},
        {"W_FC_ms", [](TSiteParams& s) { s.W_FC_ff = s.W_WP_ff; s.W_FC_ms = s.W_WP_ms; }},
        {"W_Sat_ms", [](TSiteParams& s) { s.Saturat = 1; s.W_Sat_ff = s.W_WP_ff; s.W_Sat_ms = s.W_WP_ms; }},
        {"Corr", [](TSiteParams& s) { s.Corr = -50; }},
    };
    for (const Case& c : cases) {
        const std::string text = RefusalOf(c.breakSite);
        EXPECT_NE(text.find(c.expectedName), std::string::npos) << "expected " << c.expectedName << " in: " << text;
    }
    const TSiteParams good = WorkedSite();
    EXPECT_NO_THROW(ValidateSiteForRun(good, ComputeSiteConstants(good, TClimatology{})));
}

// Each derived constant that overflows blames the parameters it brings in,
// not those of a constant before it that came out finite.
TEST(SiteConstants, OverflowBlamesTheParameterThatCausedIt) {
    struct Case {
        const char* blamed;
        const char* notBlamed;
        void (*breakSite)(TSiteParams&);
    } cases[] = {
        {"Corr = 1e+308", "M_ff =", [](TSiteParams& s) { s.Corr = 1e308; }},
        {"Wv0_ms = 1e+308", "M_ff =", [](TSiteParams& s) { s.Wv0_ms = 1e308; }},
        {"M_ff = 1e+308", "Corr", [](TSiteParams& s) { s.M_ff = 1e308; s.D_ff = 1e-5; }},
        {"W_WP_ms = 1e+308", "Corr", [](TSiteParams& s) { s.W_WP_ms = 1e308; }},
        {"W_FC_ms = 1e+308", "W_WP", [](TSiteParams& s) { s.W_FC_ms = 1e308; }},
        {"W_Sat_ms = 1e+308", "W_FC", [](TSiteParams& s) { s.W_Sat_ms = 1e308; }},
    };
    for (const Case& c : cases) {
        const std::string text = RefusalOf(c.breakSite);
        EXPECT_NE(text.find(c.blamed), std::string::npos) << "expected " << c.blamed << " in: " << text;
        EXPECT_EQ(text.find(c.notBlamed), std::string::npos) << "did not expect " << c.notBlamed << " in: " << text;
    }
}

TEST(SiteConstants, RunStartStateDrawsDecemberTwice) {
    TModel model;
    model.Site = WorkedSite();
    model.Climate = testing::BorealClimate();
    model.Constants = ComputeSiteConstants(model.Site, model.Climate);
    model.Random.SetState(99);
    RandomSource reference(99);
    const double z1 = reference.NormalDeviate(1, 0);
    const double z2 = reference.NormalDeviate(1, 0);

    model.Work.SnowStore = 17;
    SetRunStartState(model);
    EXPECT_EQ(model.Climate.av_Ta[0], model.Climate.av_Ta[12]);
    EXPECT_EQ(model.Climate.av_Ts[0], model.Climate.av_Ts[12]);
    EXPECT_EQ(model.Work.SnowStore, 0.0);
    EXPECT_EQ(model.Work.S_end[12], model.Constants.S_0);
    EXPECT_EQ(model.Work.Tair[12], model.Climate.std_Ta[12] * z1 + model.Climate.av_Ta[12]);
    EXPECT_EQ(model.Work.Tsoil[12], model.Climate.std_Ts[12] * z2 + model.Climate.av_Ts[12]);
    EXPECT_EQ(model.Random.State(), reference.State());
}

}  // namespace
}  // namespace kelmar
