// The results and input-weather grids: rows per released year, cell texts,
// the texts handed to the writers, and the colour of filled-in values.
#include <QApplication>
#include <QImage>
#include <QRadioButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTabWidget>

#include <gtest/gtest.h>

#include "app/presentation/grid_texts.h"
#include "app/run_sequence.h"
#include "io/value_text.h"
#include "ui/widgets/string_grid.h"
#include "ui_fixtures.h"

namespace kelmar::ui {
namespace {

using testing::FileRunModel;
using testing::SimulatedRunModel;

TEST(ResultsGrid, ShowsTwelveRowsPerReleasedYearUnderOneHeaderRow) {
    auto model = SimulatedRunModel(11);
    TMainForm form(*model);
    StringGrid& grid = *form.Controls().ResultsGrid;

    form.ShowResults(0);
    EXPECT_FALSE(grid.isHidden());
    EXPECT_EQ(grid.RowCount(), 2);
    EXPECT_EQ(grid.Cell(0, 1), "");

    form.ShowResults(3);
    EXPECT_EQ(grid.RowCount(), 37);
    EXPECT_EQ(grid.FixedRows(), 1);
    EXPECT_TRUE(grid.LiveScrolling());
    const TResultRecord& december = model->Results.At(3, 12);
    const std::string row36[] = {"3",
                                 "Dec",
                                 FormatValue(december.T_ff),
                                 FormatValue(december.T_ms),
                                 FormatValue(december.W_ff_vol),
                                 FormatValue(december.W_ms_vol),
                                 FormatValue(december.W_ff_mass),
                                 FormatValue(december.W_ms_mass)};
    for (int c = 0; c < 8; ++c) EXPECT_EQ(grid.Cell(c, 36), row36[c]) << "column " << c;
    EXPECT_EQ(grid.Cell(1, 13), "Jan");
    EXPECT_EQ(grid.Cell(2, 0), "T_ff, \u00b0C");
    EXPECT_EQ(grid.model()->rowCount(), 36);

    // Initialisation empties the grid to one row, which is no longer fixed;
    // the next fill brings the header row back.
    grid.SetRowCount(0);
    EXPECT_EQ(grid.RowCount(), 1);
    EXPECT_EQ(grid.FixedRows(), 0);
    form.ShowResults(1);
    EXPECT_EQ(grid.RowCount(), 13);
    EXPECT_EQ(grid.FixedRows(), 1);
    EXPECT_EQ(form.ResultsGridTexts().RowCount(), 13);
}

// Scrolled sideways, a column is shown whole or not at all: one partly
// under the fixed columns lost the left of its text ("-2.50" read "2.50").
TEST(InputWeatherGrid, ScrolledSidewaysShowsNoColumnCutAtItsLeft) {
    auto model = FileRunModel(1961, 3);
    TMainForm form(*model);
    form.resize(640, 400);
    form.show();
    StringGrid& grid = *form.Controls().InputWeatherGrid;
    form.Controls().Pages->setCurrentIndex(0);
    form.ShowInputWeather(3);
    QApplication::processEvents();
    QScrollBar& bar = *grid.horizontalScrollBar();
    ASSERT_GT(bar.maximum(), 0) << "the fixture must make the grid scroll sideways";
    for (int value = 0; value <= bar.maximum(); ++value) {
        bar.setValue(value);
        const int first = grid.columnAt(0);
        EXPECT_EQ(grid.columnViewportPosition(first), 0) << "scrolled to " << value << ": column " << first
                                                         << " begins left of the visible cells";
    }
}

TEST(ResultsGrid, ShowsCalendarYearsWithWeatherFromFile) {
    auto model = FileRunModel(1961, 3);
    TMainForm form(*model);
    form.ShowResults(2);
    EXPECT_EQ(form.Controls().ResultsGrid->Cell(0, 1), "1961");
    EXPECT_EQ(form.Controls().ResultsGrid->Cell(0, 24), "1962");
}

TEST(InputWeatherGrid, HoldsEveryObservedMonthWhateverTheReleasedYears) {
    auto model = FileRunModel(1961, 2);
    TMainForm form(*model);
    StringGrid& grid = *form.Controls().InputWeatherGrid;
    form.ShowInputWeather(0);

    EXPECT_FALSE(grid.isHidden());
    EXPECT_EQ(grid.RowCount(), 25);
    EXPECT_EQ(grid.FixedRows(), 1);
    EXPECT_EQ(grid.ColWidth(5), -1);
    EXPECT_TRUE(grid.isColumnHidden(5 - grid.FixedCols()));
    const TResultRecord& march = model->Results.At(2, 3);
    const std::string row15[] = {"1962", "Mar", FormatValue(march.Tair), FormatValue(march.Tsoil),
                                 FormatValue(march.Prec), "3"};
    const TextGrid texts = form.InputWeatherGridTexts();
    ASSERT_EQ(texts.RowCount(), 25);
    for (int c = 0; c < 6; ++c) EXPECT_EQ(texts.Cell(c, 15), row15[c]) << "column " << c;
    EXPECT_EQ(texts.Cell(2, 0), "Tair, \u00b0C");
    EXPECT_EQ(texts.Cell(5, 0), "");
}

TEST(InputWeatherGrid, ShowsTheReleasedYearsOfSimulatedWeatherButWritesAll) {
    auto model = SimulatedRunModel(12);
    TMainForm form(*model);
    StringGrid& grid = *form.Controls().InputWeatherGrid;
    EXPECT_TRUE(form.Controls().SimulatedWeatherButton->isChecked());
    form.ShowInputWeather(2);
    EXPECT_EQ(grid.RowCount(), 25);
    EXPECT_EQ(grid.Cell(0, 24), "2");
    // Written although not yet in view: the last year's December.
    EXPECT_EQ(grid.Cell(0, 6000), "500");
    EXPECT_EQ(grid.Cell(4, 6000), FormatValue(model->Results.At(500, 12).Prec));
    form.ShowInputWeather(500);
    EXPECT_EQ(grid.RowCount(), 6001);
}

// True when the cell shows reddish pixels: text in the notice colour on the
// grid background (which, like black text on it, has more blue than red).
bool ShowsNoticeColour(const QImage& image, const QRect& cell) {
    for (int y = cell.top(); y <= cell.bottom(); ++y)
        for (int x = cell.left(); x <= cell.right(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.red() > pixel.green() + 60 && pixel.red() > pixel.blue() + 60) return true;
        }
    return false;
}

struct CellColourCase {
    int column;
    int row;
    bool marked;
};

void ExpectCellColours(TMainForm& form, const std::vector<CellColourCase>& cases, const char* mode) {
    form.resize(1000, 800);
    form.Controls().PaneSplitter->setSizes({400, 600});  // room for every column of InputWeatherGrid
    form.show();
    QApplication::processEvents();
    StringGrid& grid = *form.Controls().InputWeatherGrid;
    const QImage image = grid.viewport()->grab().toImage();
    for (const CellColourCase& c : cases) {
        const QRect cell = grid.CellRect(c.column, c.row);
        ASSERT_TRUE(image.rect().contains(cell)) << mode << " cell " << c.column << "," << c.row;
        EXPECT_EQ(ShowsNoticeColour(image, cell), c.marked)
            << mode << " cell " << c.column << "," << c.row << " text " << grid.Cell(c.column, c.row);
    }
}

TEST(InputWeatherGrid, MarksSoilTemperaturesTheRunFilledIn) {
    auto model = FileRunModel(1961, 2, {{1, 3}, {2, 7}});
    TMainForm form(*model);
    form.ShowInputWeather(0);
    ExpectCellColours(form,
                      {{3, 3, true}, {3, 19, true}, {3, 4, false}, {3, 1, false}, {2, 3, false}, {2, 19, false}},
                      "weather from file");
}

// Under a scenario the grid (and the save, which writes the grid) keeps the
// record as read; only the gaps show the run's fills, marked. It used to
// show the changed values, every soil month marked.
TEST(InputWeatherGrid, ShowsTheRecordAsReadUnderAScenario) {
    auto model = FileRunModel(1961, 2, {{1, 3}});
    const TWeatherStore read = model->Weather;
    TScenario warmer;
    warmer.DeltaT.fill(2);
    warmer.PrecFactor.fill(0.5);
    kelmar::testing::RecordingNotifier notifier;
    ASSERT_EQ(RunUnderScenario(*model, notifier, &warmer), RunOutcome::Completed);
    ASSERT_NE(model->Results.At(1, 1).Tair, read.Tair[1][1]) << "the run must be a changed one";
    TMainForm form(*model);
    form.ShowInputWeather(0);
    const TextGrid texts = form.InputWeatherGridTexts();
    for (int i = 1; i <= 2; ++i)
        for (int m = 1; m <= 12; ++m) {
            const int row = (i - 1) * 12 + m;
            EXPECT_EQ(texts.Cell(2, row), FormatValue(read.Tair[i][m])) << "year index " << i << ", month " << m;
            EXPECT_EQ(texts.Cell(4, row), FormatValue(read.Prec[i][m])) << "year index " << i << ", month " << m;
            if (i == 1 && m == 3) continue;  // the gap
            EXPECT_EQ(texts.Cell(3, row), FormatValue(read.Tsoil[i][m])) << "year index " << i << ", month " << m;
        }
    EXPECT_EQ(texts.Cell(3, 3), FormatValue(model->Results.At(1, 3).Tsoil)) << "the gap shows the run's fill";
    ExpectCellColours(form, {{3, 3, true}, {3, 1, false}, {3, 4, false}, {3, 19, false}, {2, 3, false}},
                      "weather from file under a scenario");
}

TEST(InputWeatherGrid, MarksEveryValueOfSimulatedWeather) {
    auto model = SimulatedRunModel(13);
    TMainForm form(*model);
    form.ShowInputWeather(2);
    ExpectCellColours(form, {{2, 1, true}, {3, 1, true}, {4, 14, true}, {3, 20, true}}, "simulated weather");
}

}  // namespace
}  // namespace kelmar::ui
