#include "ui/form/main_form.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>

#include <utility>

#include "app/presentation/grid_texts.h"
#include "ui/widgets/line_chart.h"
#include "ui/widgets/series_legend.h"
#include "ui/widgets/string_grid.h"
#include "ui/widgets/updown_spinner.h"

namespace kelmar::ui {

TMainForm::TMainForm(TModel& model, QWidget* parent) : QMainWindow(parent), Model(model), State(model) {
    BuildWindow();
    FormCreate();
    ConnectHandlers();
    for (StringGrid* grid : {Ui.InputWeatherGrid, Ui.SiteGrid, Ui.ClimatologyGrid, Ui.ResultsGrid})
        grid->installEventFilter(this);
}

void TMainForm::closeEvent(QCloseEvent* event) {
    if (CloseGuard && !CloseGuard()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

// Tab moves through a grid's cells and, past its last cell (Shift+Tab: before
// its first), on to the next control instead of wrapping round inside the grid.
bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    auto* grid = qobject_cast<StringGrid*>(watched);
    if (!grid || event->type() != QEvent::KeyPress || ForwardingGridKey) return QMainWindow::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool forward = key->key() == Qt::Key_Tab && !(key->modifiers() & Qt::ShiftModifier);
    const bool backward = key->key() == Qt::Key_Backtab || (key->key() == Qt::Key_Tab && !forward);
    if (!forward && !backward) return false;
    const QModelIndex before = grid->currentIndex();
    QKeyEvent copy(key->type(), key->key(), key->modifiers(), key->text());
    ForwardingGridKey = true;
    QCoreApplication::sendEvent(grid, &copy);
    ForwardingGridKey = false;
    if (!grid->hasFocus()) return true;  // the grid passed the focus on itself
    const QModelIndex after = grid->currentIndex();
    const auto order = [](const QModelIndex& i) { return std::pair(i.row(), i.column()); };
    const bool wrapped = !after.isValid() || (before.isValid() && (forward ? order(after) <= order(before)
                                                                           : order(after) >= order(before)));
    if (wrapped) {
        if (before.isValid()) grid->setCurrentIndex(before);
        focusNextPrevChild(forward);
    }
    return true;
}

void TMainForm::FormCreate() {
    Ui.ForestTypeBox->setCurrentIndex(0);

    const int resultsWidths[] = {36, 40, 55, 55};
    for (int c = 0; c < 4; ++c) Ui.ResultsGrid->SetColWidth(c, resultsWidths[c]);
    for (int c = 0; c < RESULTS_GRID_COLUMNS; ++c) Ui.ResultsGrid->SetCell(c, 0, ResultsHeaders()[c]);

    Ui.ClimatologyGrid->SetColWidth(0, 36);
    for (int c = 1; c < CLIMATE_GRID_SIZE; ++c) Ui.ClimatologyGrid->SetCell(c, 0, ClimatologyHeaders()[c]);
    for (int m = 1; m <= 12; ++m) Ui.ClimatologyGrid->SetCell(0, m, MonthAbbreviation(m));

    // The flags are edited through the radio buttons and the forest-type
    // list instead of the grid: their rows are hidden.
    for (int r = 0; r < SITE_GRID_ROWS; ++r)
        if (SITE_FIELDS[r].Kind == FieldKind::Flag) Ui.SiteGrid->SetRowHeight(r, -1);

    Ui.ChartViewBox->setCurrentIndex(0);
    Ui.OpenSimulatedFilesButton->setEnabled(false);
    Ui.Pages->setCurrentIndex(0);
    for (int i = 0; i < SERIES_COUNT; ++i) Ui.Chart->Legend()->SetListed(SeriesAt(i), false);

    const TextGrid siteLabels = kelmar::SiteGridTexts(TSiteParams{});
    for (int r = 0; r < SITE_GRID_ROWS; ++r) Ui.SiteGrid->SetCell(0, r, siteLabels.Cell(0, r));

    // The input mode as the run settings hold it, the step size as the session does.
    (Model.Settings.InpDat ? Ui.ObservedWeatherButton : Ui.SimulatedWeatherButton)->setChecked(true);
    Ui.StepYearsBox->setText(QString::number(State.StepSize()));
}

void TMainForm::ConnectHandlers() {
    const auto onCheck = [this](QRadioButton* button, void (TMainForm::*handler)()) {
        connect(button, &QRadioButton::toggled, this, [this, handler](bool checked) {
            if (checked) (this->*handler)();
        });
    };
    onCheck(Ui.SaturationYesButton, &TMainForm::SaturationYesChecked);
    onCheck(Ui.SaturationNoButton, &TMainForm::SaturationNoChecked);
    onCheck(Ui.PermafrostYesButton, &TMainForm::PermafrostYesChecked);
    onCheck(Ui.PermafrostNoButton, &TMainForm::PermafrostNoChecked);
    // activated: only a choice the user makes, never one set by the program.
    connect(Ui.ForestTypeBox, &QComboBox::activated, this, &TMainForm::ForestTypeChosen);
    connect(Ui.ChartViewBox, &QComboBox::activated, this, &TMainForm::ChartViewChosen);
    connect(Ui.YearSlider, &QSlider::valueChanged, this, &TMainForm::YearSliderMoved);
    connect(Ui.YearBox, &QLineEdit::textChanged, this, &TMainForm::YearBoxEdited);
    connect(Ui.YearBox, &QLineEdit::editingFinished, this, &TMainForm::YearBoxLeft);
    connect(Ui.Pages, &QTabWidget::currentChanged, this, &TMainForm::ShowChartOfPage);
    Ui.InputWeatherGrid->SetCellPainter([this](int column, int row, const QRect& rect, GridCanvas& canvas) {
        PaintInputWeatherCell(column, row, rect, canvas);
    });
}

void TMainForm::SetYearCount(int yearCount) {
    State.SetReleasedYears(yearCount);
    ShowYearCount();
}

void TMainForm::ShowYearCount() {
    Ui.YearCountLabel->setText(QString::fromStdString(YearCountText(State.ReleasedYears())));
    FollowReleasedYears();
}

TextGrid TMainForm::SiteGridTexts() const { return Ui.SiteGrid->Texts(); }
TextGrid TMainForm::ClimatologyGridTexts() const { return Ui.ClimatologyGrid->Texts(); }
TextGrid TMainForm::InputWeatherGridTexts() const { return Ui.InputWeatherGrid->Texts(); }
TextGrid TMainForm::ResultsGridTexts() const { return Ui.ResultsGrid->Texts(); }

}  // namespace kelmar::ui
