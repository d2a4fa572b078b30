// The site grid with its yes/no buttons and forest-type list, and the
// climatology grid.
#include <QComboBox>

#include <algorithm>
#include <cmath>
#include <limits>

#include "app/presentation/grid_texts.h"
#include "io/number_text.h"
#include "io/value_text.h"
#include "model/errors.h"
#include "ui/form/main_form.h"
#include "ui/widgets/string_grid.h"

namespace kelmar::ui {

namespace {

// Rows of the flags the yes/no buttons and the forest-type list set.
constexpr int SATURAT_ROW = SiteFieldIndex("Saturat");
constexpr int PERMAFR_ROW = SiteFieldIndex("Permafr");
constexpr int FORTYPE_ROW = SiteFieldIndex("Fortype");
constexpr int VALUE_COLUMN = SITE_VALUE_COLUMN;

// A flag cell's number rounded to the nearest integer (ties to even) and
// kept within what the flag can hold.
std::uint8_t FlagValue(double number) {
    const double rounded = std::nearbyint(number);
    return static_cast<std::uint8_t>(std::clamp(rounded, 0.0, double(std::numeric_limits<std::uint8_t>::max())));
}

// A cell's number as the file readers convert it; a conversion error gets a
// second line saying where the cell is.
void CheckNumber(const std::string& text, const std::string& where) {
    try {
        ParseReal(text);
    } catch (const KelmarError& error) {
        throw KelmarError(std::string(error.what()) + "\n" + where);
    }
}

}  // namespace

void TMainForm::CheckSiteGridNumbers() const {
    for (int r = 0; r < SITE_GRID_ROWS; ++r)
        if (SITE_FIELDS[r].Kind == FieldKind::Real)
            CheckNumber(Ui.Grid2->Cell(VALUE_COLUMN, r), "Site parameters, row \"" + Ui.Grid2->Cell(0, r) + "\"");
}

void TMainForm::CheckClimatologyGridNumbers() const {
    for (int m = 1; m <= 12; ++m)
        for (int c = 1; c < CLIMATE_GRID_SIZE; ++c)
            CheckNumber(Ui.Grid3->Cell(c, m),
                        "Climatology, row \"" + Ui.Grid3->Cell(0, m) + "\", column \"" + Ui.Grid3->Cell(c, 0) + "\"");
}

void TMainForm::ShowSiteParams() {
    GridUpdate update(*Ui.Grid2);
    auto values = SiteValueTexts(Model.Site);
    for (int r = 0; r < SITE_GRID_ROWS; ++r) Ui.Grid2->SetCell(VALUE_COLUMN, r, std::move(values[r]));
}

void TMainForm::ReadSiteParamsFromGrid() {
    for (int r = 0; r < SITE_GRID_ROWS; ++r) {
        const SiteField& field = SITE_FIELDS[r];
        const double number = ParseValueLenient(Ui.Grid2->Cell(VALUE_COLUMN, r));
        if (field.Kind == FieldKind::Real)
            Model.Site.*field.Real = number;
        else  // the flags are kept as text in hidden rows
            Model.Site.*field.Flag = FlagValue(number);
    }
}

void TMainForm::ShowClimatology() {
    GridUpdate update(*Ui.Grid3);
    const TextGrid texts = kelmar::ClimatologyGridTexts(Model.Climate);
    for (int m = 1; m <= 12; ++m)
        for (int c = 1; c < CLIMATE_GRID_SIZE; ++c) Ui.Grid3->SetCell(c, m, texts.Cell(c, m));
}

void TMainForm::SetSiteFlag(std::uint8_t TSiteParams::*flag, int row, int value) {
    Model.Site.*flag = static_cast<std::uint8_t>(value);
    Ui.Grid2->SetCell(VALUE_COLUMN, row, std::to_string(value));
}

void TMainForm::RadioButton4Click() { SetSiteFlag(&TSiteParams::Saturat, SATURAT_ROW, 1); }
void TMainForm::RadioButton5Click() { SetSiteFlag(&TSiteParams::Saturat, SATURAT_ROW, 0); }
void TMainForm::RadioButton6Click() { SetSiteFlag(&TSiteParams::Permafr, PERMAFR_ROW, 1); }
void TMainForm::RadioButton7Click() { SetSiteFlag(&TSiteParams::Permafr, PERMAFR_ROW, 0); }

void TMainForm::ComboBox2Change() {
    SetSiteFlag(&TSiteParams::Fortype, FORTYPE_ROW, std::max(Ui.ComboBox2->currentIndex(), 0));
}

}  // namespace kelmar::ui
