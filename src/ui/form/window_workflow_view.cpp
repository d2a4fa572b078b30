#include "ui/form/window_workflow_view.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QRadioButton>

#include "app/presentation/grid_texts.h"
#include "ui/widgets/string_grid.h"

namespace kelmar::ui {

namespace {
// The residual deviation of soil temperature, which weather from file does not use.
constexpr int SOIL_RESIDUAL_COLUMN = 12;
}  // namespace

std::optional<std::string> WindowWorkflowView::AskFile(FileDialog dialog) {
    const auto name = Dialogs.AskFile(DialogSpec(dialog), LastFolder.isEmpty() ? QDir::currentPath() : LastFolder);
    if (!name) return std::nullopt;
    LastFolder = QFileInfo(*name).absolutePath();
    return name->toStdString();
}

void WindowWorkflowView::Warning(const std::string& text) { Dialogs.Warning(QString::fromStdString(text)); }

void WindowWorkflowView::SiteFileRead() {
    const TMainFormControls& ui = Form.Controls();
    // The program selects the list entry without running its handler; the
    // buttons' handlers run and write the hidden flag rows.
    ui.ForestTypeBox->setCurrentIndex(Model.Site.Fortype <= ftOak ? Model.Site.Fortype : -1);
    (Model.Site.Saturat == 1 ? ui.SaturationYesButton : ui.SaturationNoButton)->setChecked(true);
    (Model.Site.Permafr == 1 ? ui.PermafrostYesButton : ui.PermafrostNoButton)->setChecked(true);
}

void WindowWorkflowView::ClimatologyFileRead() {
    if (Model.Settings.InpDat) Form.Controls().ClimatologyGrid->SetColWidth(SOIL_RESIDUAL_COLUMN, -1);
}

}  // namespace kelmar::ui
