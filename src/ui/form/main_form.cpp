#include "ui/form/main_form.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>

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
}

void TMainForm::FormCreate() {
    Ui.ComboBox2->setCurrentIndex(0);

    const int resultsWidths[] = {36, 40, 55, 55};
    for (int c = 0; c < 4; ++c) Ui.Grid1->SetColWidth(c, resultsWidths[c]);
    for (int c = 0; c < RESULTS_GRID_COLUMNS; ++c) Ui.Grid1->SetCell(c, 0, ResultsHeaders()[c]);

    Ui.Grid3->SetColWidth(0, 36);
    for (int c = 1; c < CLIMATE_GRID_SIZE; ++c) Ui.Grid3->SetCell(c, 0, ClimatologyHeaders()[c]);
    for (int m = 1; m <= 12; ++m) Ui.Grid3->SetCell(0, m, MonthAbbreviation(m));

    // The flags are edited through the radio buttons and the forest-type
    // list instead of the grid: their rows are hidden.
    for (int r = 0; r < SITE_GRID_ROWS; ++r)
        if (SITE_FIELDS[r].Kind == FieldKind::Flag) Ui.Grid2->SetRowHeight(r, -1);

    Ui.ComboBox1->setCurrentIndex(0);
    Ui.OpenBtn->setEnabled(false);
    Ui.PageControl1->setCurrentIndex(0);
    for (int i = 0; i < SERIES_COUNT; ++i) Ui.Chart1->Legend()->SetListed(SeriesAt(i), false);

    const TextGrid siteLabels = kelmar::SiteGridTexts(TSiteParams{});
    for (int r = 0; r < SITE_GRID_ROWS; ++r) Ui.Grid2->SetCell(0, r, siteLabels.Cell(0, r));

    // The input mode as the run settings hold it, the step size as the session does.
    (Model.Settings.InpDat ? Ui.RadioButton2 : Ui.RadioButton1)->setChecked(true);
    Ui.Edit1->setText(QString::number(State.StepSize()));
}

void TMainForm::ConnectHandlers() {
    const auto onCheck = [this](QRadioButton* button, void (TMainForm::*handler)()) {
        connect(button, &QRadioButton::toggled, this, [this, handler](bool checked) {
            if (checked) (this->*handler)();
        });
    };
    onCheck(Ui.RadioButton4, &TMainForm::RadioButton4Click);
    onCheck(Ui.RadioButton5, &TMainForm::RadioButton5Click);
    onCheck(Ui.RadioButton6, &TMainForm::RadioButton6Click);
    onCheck(Ui.RadioButton7, &TMainForm::RadioButton7Click);
    // activated: only a choice the user makes, never one set by the program.
    connect(Ui.ComboBox2, &QComboBox::activated, this, &TMainForm::ComboBox2Change);
    connect(Ui.ComboBox1, &QComboBox::activated, this, &TMainForm::ComboBox1Change);
    connect(Ui.TrackBar2, &QSlider::valueChanged, this, &TMainForm::TrackBar2Change);
    connect(Ui.Edit4, &QLineEdit::textChanged, this, &TMainForm::Edit4Change);
    connect(Ui.PageControl1, &QTabWidget::currentChanged, this, &TMainForm::PageControl1Change);
    Ui.Grid9->SetCellPainter([this](int column, int row, const QRect& rect, GridCanvas& canvas) {
        Grid9DrawCell(column, row, rect, canvas);
    });
}

void TMainForm::SetYearCount(int yearCount) {
    State.SetReleasedYears(yearCount);
    ShowYearCount();
}

void TMainForm::ShowYearCount() {
    Ui.YearCountLabel->setText(QString("    %1 year").arg(State.ReleasedYears()));
}

TextGrid TMainForm::SiteGridTexts() const { return Ui.Grid2->Texts(); }
TextGrid TMainForm::ClimatologyGridTexts() const { return Ui.Grid3->Texts(); }
TextGrid TMainForm::InputWeatherGridTexts() const { return Ui.Grid9->Texts(); }
TextGrid TMainForm::ResultsGridTexts() const { return Ui.Grid1->Texts(); }

}  // namespace kelmar::ui
