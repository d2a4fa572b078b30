// The results grid and the input-weather grid, month by month.
#include <algorithm>
#include <charconv>
#include <cmath>

#include "app/presentation/grid_texts.h"
#include "ui/form/main_form.h"
#include "ui/widgets/string_grid.h"
#include "ui/widgets/win_color.h"

namespace kelmar::ui {

namespace {

// InputWeatherGrid columns read back when its cells are drawn.
constexpr int WEATHER_YEAR_COLUMN = 0;
constexpr int WEATHER_TSOIL_COLUMN = 3;
constexpr int WEATHER_MONTH_COLUMN = 5;
constexpr int FIRST_VALUE_COLUMN = 2;

int MonthRow(int yearIndex, int month) { return (yearIndex - 1) * 12 + month; }

bool IsPresent(const TResultRecord& record) { return record.Year != 0; }

// A cell's decimal integer; 0 when the text is not one.
int CellInteger(const std::string& text) {
    int value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size() ? value : 0;
}

// A stored soil temperature below this (degC) is a gap of the record (the
// store marks gaps with -99.9), which the run fills.
constexpr double SOIL_GAP_BELOW = -99;

bool IsSoilGap(const TModel& model, int yearIndex, int month) {
    return model.Weather.Tsoil[yearIndex][month] < SOIL_GAP_BELOW;
}

// A month of the input-weather grid. With weather from file the record as
// read, not as the run used it: under a scenario the run's values are
// changed ones, which saved and run again under the same scenario would be
// changed twice. Only a soil gap shows the run's fill (marked).
TResultRecord InputWeatherMonth(const TModel& model, int yearIndex, int month) {
    TResultRecord record = model.Results.At(yearIndex, month);
    if (!model.Settings.InpDat) return record;
    record.Tair = model.Weather.Tair[yearIndex][month];
    record.Prec = model.Weather.Prec[yearIndex][month];
    if (!IsSoilGap(model, yearIndex, month)) record.Tsoil = model.Weather.Tsoil[yearIndex][month];
    return record;
}

template <typename Row>
void WriteRow(StringGrid& grid, int row, Row texts) {
    for (int c = 0; c < static_cast<int>(texts.size()); ++c) grid.SetCell(c, row, std::move(texts[c]));
}

}  // namespace

void TMainForm::ShowResults(int yearCount) {
    {
        GridUpdate update(*Ui.ResultsGrid);
        const int years = std::min(yearCount, MAX_YEARS);
        for (int i = 1; i <= years; ++i)
            for (int m = 1; m <= 12; ++m) {
                const TResultRecord& record = Model.Results.At(i, m);
                if (!IsPresent(record)) continue;
                Ui.ResultsGrid->SetRowCount(12 * years + 1);
                Ui.ResultsGrid->SetFixedRows(1);
                WriteRow(*Ui.ResultsGrid, MonthRow(i, m), ResultsRowTexts(record, i, Model.Settings.InpDat));
            }
    }
    Ui.ResultsGrid->show();
    Ui.ResultsGrid->SetLiveScrolling(true);
}

void TMainForm::ShowInputWeather(int yearCount) {
    {
        GridUpdate update(*Ui.InputWeatherGrid);
        Ui.InputWeatherGrid->SetRowCount(1);
        for (int c = 0; c < 5; ++c) Ui.InputWeatherGrid->SetCell(c, 0, InputWeatherHeaders()[c]);
        for (int i = 1; i <= MAX_YEARS; ++i)
            for (int m = 1; m <= 12; ++m) {
                const TResultRecord& record = Model.Results.At(i, m);
                if (!IsPresent(record)) continue;
                Ui.InputWeatherGrid->SetRowCount(Model.Settings.InpDat ? Ui.InputWeatherGrid->RowCount() + 1
                                                                       : 12 * yearCount + 1);
                Ui.InputWeatherGrid->SetFixedRows(1);
                WriteRow(*Ui.InputWeatherGrid, MonthRow(i, m), InputWeatherRowTexts(InputWeatherMonth(Model, i, m)));
            }
    }
    if (Ui.InputWeatherGrid->RowCount() > 1) Ui.InputWeatherGrid->SetColWidth(WEATHER_MONTH_COLUMN, -1);
    Ui.InputWeatherGrid->show();
    Ui.InputWeatherGrid->SetLiveScrolling(true);
}

bool TMainForm::InputWeatherCellMarked(int column, int row) const {
    if (row < 1) return false;
    if (!Model.Settings.InpDat) return column >= FIRST_VALUE_COLUMN;
    if (column != WEATHER_TSOIL_COLUMN || Ui.InputWeatherGrid->RowCount() <= 1) return false;

    const int year = CellInteger(Ui.InputWeatherGrid->Cell(WEATHER_YEAR_COLUMN, row));
    const int month = CellInteger(Ui.InputWeatherGrid->Cell(WEATHER_MONTH_COLUMN, row));
    const int yearIndex = year - Model.Settings.YearBeg + 1;
    if (yearIndex < 1 || yearIndex > MAX_YEARS || month < 1 || month > 12) return false;
    return IsSoilGap(Model, yearIndex, month);
}

void TMainForm::PaintInputWeatherCell(int column, int row, const QRect& rect, GridCanvas& canvas) {
    if (!InputWeatherCellMarked(column, row)) return;
    canvas.SetFontColor(WinColor(NOTICE_COLOR));
    canvas.FillRect(rect);
    canvas.TextOut(rect.left() + CELL_TEXT_OFFSET, rect.top() + CELL_TEXT_OFFSET,
                   QString::fromStdString(Ui.InputWeatherGrid->Cell(column, row)));
}

}  // namespace kelmar::ui
