// The site grid as the editable form of the site parameters, its yes/no
// buttons and forest-type list, and the climatology grid.
#include <QComboBox>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <array>
#include <memory>

#include "model/model_fixtures.h"
#include "ui/form/main_form.h"
#include "ui/widgets/string_grid.h"

namespace kelmar::ui {
namespace {

// The fifteen site values in grid-row order.
std::array<double, 15> RowValues(const TSiteParams& s) {
    return {s.Lat,     s.M_ff,     s.D_ff,   s.W_WP_ff, s.W_FC_ff,  s.W_Sat_ff, s.D_ms,   s.W_WP_ms,
            s.W_FC_ms, s.W_Sat_ms, s.Wv0_ms, s.Corr,    double(s.Saturat), double(s.Permafr), double(s.Fortype)};
}

class SiteGridTest : public ::testing::Test {
protected:
    std::unique_ptr<TModel> model = std::make_unique<TModel>();
    TMainForm form{*model};
    StringGrid& grid = *form.Controls().SiteGrid;
};

TEST_F(SiteGridTest, ShowsTheSite) {
    model->Site = testing::WorkedSite();
    model->Site.Permafr = 1;
    form.ShowSiteParams();
    const char* shown[] = {"61.80", "2.00", "0.10", "2.50", "10.00", "97.00", "1.20", "5.00",
                           "20.00", "40.00", "15.00", "1.50", "0", "1", "1"};
    for (int r = 0; r < 15; ++r) EXPECT_EQ(grid.Cell(1, r), shown[r]) << "row " << r;
}

TEST_F(SiteGridTest, YesNoButtonsCheckedByProgramSetTheFlagAndItsHiddenRow) {
    const TMainFormControls& ui = form.Controls();
    struct Click {
        QRadioButton* button;
        int row;
        int value;
    };
    const Click clicks[] = {{ui.SaturationYesButton, 12, 1},
                            {ui.SaturationNoButton, 12, 0},
                            {ui.PermafrostYesButton, 13, 1},
                            {ui.PermafrostNoButton, 13, 0},
                            {ui.SaturationYesButton, 12, 1}};
    for (const Click& c : clicks) {
        c.button->setChecked(true);
        const std::string name = c.button->objectName().toStdString();
        EXPECT_EQ(RowValues(model->Site)[c.row], c.value) << name;
        EXPECT_EQ(grid.Cell(1, c.row), std::to_string(c.value)) << name;
    }
    // The two groups are independent.
    EXPECT_TRUE(ui.SaturationYesButton->isChecked());
    EXPECT_TRUE(ui.PermafrostNoButton->isChecked());
}

TEST_F(SiteGridTest, ForestTypeChosenByTheUserReachesTheSiteButNotOneSetByProgram) {
    QComboBox& types = *form.Controls().ForestTypeBox;
    types.setCurrentIndex(2);
    EXPECT_EQ(model->Site.Fortype, 0);
    EXPECT_EQ(grid.Cell(1, 14), "");

    types.setCurrentIndex(0);
    for (int press = 0; press < 3; ++press) QTest::keyClick(&types, Qt::Key_Down);
    EXPECT_EQ(types.currentText(), "Birch");
    EXPECT_EQ(model->Site.Fortype, 3);
    EXPECT_EQ(grid.Cell(1, 14), "3");
}

TEST_F(SiteGridTest, ReturningToTheInputTabReadsTheSiteGrid) {
    model->Site = testing::WorkedSite();
    form.ShowSiteParams();
    QTabWidget& tabs = *form.Controls().Pages;
    tabs.setCurrentIndex(1);
    grid.SetCell(1, 0, "45.5");
    grid.SetCell(1, 14, "4");
    EXPECT_EQ(model->Site.Lat, 61.8);
    tabs.setCurrentIndex(0);
    EXPECT_EQ(model->Site.Lat, 45.5);
    EXPECT_EQ(model->Site.Fortype, 4);
    EXPECT_EQ(model->Site.M_ff, 2);
}

TEST_F(SiteGridTest, ClimatologyGridShowsEveryVariableByMonth) {
    model->Climate = testing::BorealClimate();
    form.ShowClimatology();
    const StringGrid& climate = *form.Controls().ClimatologyGrid;
    struct Cell {
        int column, month;
        const char* text;
    };
    const Cell cells[] = {{1, 1, "-10.00"}, {2, 12, "3.20"}, {3, 7, "78.00"}, {4, 2, "0.50"},
                          {5, 12, "-0.40"}, {8, 6, "-1.00"}, {12, 12, "0.55"}, {0, 3, "Mar"},
                          {7, 0, "Baa"}};
    for (const Cell& c : cells) EXPECT_EQ(climate.Cell(c.column, c.month), c.text) << c.column << "," << c.month;
    const TextGrid texts = form.ClimatologyGridTexts();
    EXPECT_EQ(texts.RowCount(), 13);
    EXPECT_EQ(texts.Cell(11, 4), "0.25");
}

}  // namespace
}  // namespace kelmar::ui
