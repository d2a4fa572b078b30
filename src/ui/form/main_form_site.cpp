// The site grid with its yes/no buttons and forest-type list, and the
// climatology grid.
#include <QComboBox>

#include <algorithm>

#include "app/presentation/grid_texts.h"
#include "app/presentation/records_of_grids.h"
#include "ui/form/main_form.h"
#include "ui/widgets/string_grid.h"

namespace kelmar::ui {

namespace {

// Rows of the flags the yes/no buttons and the forest-type list set.
constexpr int SATURAT_ROW = SiteFieldIndex("Saturat");
constexpr int PERMAFR_ROW = SiteFieldIndex("Permafr");
constexpr int FORTYPE_ROW = SiteFieldIndex("Fortype");
constexpr int VALUE_COLUMN = SITE_VALUE_COLUMN;

}  // namespace

void TMainForm::ShowSiteParams() {
    GridUpdate update(*Ui.SiteGrid);
    auto values = SiteValueTexts(Model.Site);
    for (int r = 0; r < SITE_GRID_ROWS; ++r) Ui.SiteGrid->SetCell(VALUE_COLUMN, r, std::move(values[r]));
}

void TMainForm::ReadSiteParamsFromGrid() {
    // The flags too: they are kept as text in hidden rows.
    Model.Site = SiteOfGrid(Ui.SiteGrid->Texts());
}

void TMainForm::ShowClimatology() {
    GridUpdate update(*Ui.ClimatologyGrid);
    const TextGrid texts = kelmar::ClimatologyGridTexts(Model.Climate);
    for (int m = 1; m <= 12; ++m)
        for (int c = 1; c < CLIMATE_GRID_SIZE; ++c) Ui.ClimatologyGrid->SetCell(c, m, texts.Cell(c, m));
}

void TMainForm::SetSiteFlag(std::uint8_t TSiteParams::*flag, int row, int value) {
    Model.Site.*flag = static_cast<std::uint8_t>(value);
    Ui.SiteGrid->SetCell(VALUE_COLUMN, row, std::to_string(value));
}

void TMainForm::SaturationYesChecked() { SetSiteFlag(&TSiteParams::Saturat, SATURAT_ROW, 1); }
void TMainForm::SaturationNoChecked() { SetSiteFlag(&TSiteParams::Saturat, SATURAT_ROW, 0); }
void TMainForm::PermafrostYesChecked() { SetSiteFlag(&TSiteParams::Permafr, PERMAFR_ROW, 1); }
void TMainForm::PermafrostNoChecked() { SetSiteFlag(&TSiteParams::Permafr, PERMAFR_ROW, 0); }

void TMainForm::ForestTypeChosen() {
    SetSiteFlag(&TSiteParams::Fortype, FORTYPE_ROW, std::max(Ui.ForestTypeBox->currentIndex(), 0));
}

}  // namespace kelmar::ui
