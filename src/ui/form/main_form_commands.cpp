#include "ui/form/main_form_commands.h"

#include <QAbstractButton>
#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QToolButton>

#include <exception>
#include <initializer_list>

#include "app/open_commands.h"
#include "app/region/region_open.h"
#include "app/presentation/grid_texts.h"
#include "app/presentation/records_of_grids.h"
#include "app/results_file_name.h"
#include "app/save_commands.h"
#include "app/scenario_request.h"
#include "app/session.h"
#include "app/run_notices.h"
#include "io/number_text.h"
#include "model/climatology_estimation.h"
#include "model/errors.h"
#include "ui/widgets/line_chart.h"
#include "ui/pictures/chart_pictures.h"
#include "ui/pictures/chart_printing.h"
#include "ui/pictures/picture_texts.h"
#include "ui/widgets/string_grid.h"
#include "ui/form/window_options.h"
#include "ui/region/region_window.h"

namespace kelmar::ui {

namespace {

// Weather from file whose missing soil temperatures had no climatology to
// be filled from: the generator put 0 in each of them.
const char* const ZERO_SOIL_NOTICE = "Missing soil temperatures were set to 0: no climatology was read";

// The chart views added on the first Step that shows more than one year.
const QStringList YEARLY_VIEWS = {"Annual average", "January", "February", "March",     "April",
                                  "May",            "June",    "July",     "August",    "September",
                                  "October",        "November", "December"};

void SwitchOff(std::initializer_list<QWidget*> controls) {
    for (QWidget* control : controls) control->setEnabled(false);
}

}  // namespace

TMainFormCommands::TMainFormCommands(TMainForm& form, TModel& model, UserDialogs& dialogs,
                                     ProgramRestart& restart)
    : QObject(&form),
      Form(form),
      Model(model),
      Session(form.AppSession()),
      Dialogs(dialogs),
      Restart(restart),
      View(form, model, dialogs),
      Printer(DefaultPrinter) {
    ConnectControls();
    ConnectKeys();
    Form.SetCloseGuard([this] { return MayDiscardResults(); });
    WeatherSourceChanged();
}

void TMainFormCommands::ConnectControls() {
    const TMainFormControls& ui = Form.Controls();
    const auto onClick = [this](QAbstractButton* button, void (TMainFormCommands::*command)()) {
        connect(button, &QAbstractButton::clicked, this, [this, command] { Run([this, command] { (this->*command)(); }); });
    };
    onClick(ui.OpenObservedFilesButton, &TMainFormCommands::OpenObservedFiles);
    onClick(ui.OpenSimulatedFilesButton, &TMainFormCommands::OpenSimulatedFiles);
    onClick(ui.InitialiseButton, &TMainFormCommands::Initialise);
    onClick(ui.StepButton, &TMainFormCommands::Step);
    onClick(ui.GenerateClimatologyButton, &TMainFormCommands::GenerateClimatologyFile);
    onClick(ui.SaveResultsButton, &TMainFormCommands::SaveResultsFile);
    onClick(ui.SaveWeatherButton, &TMainFormCommands::SaveWeatherFile);
    onClick(ui.SaveClimatologyButton, &TMainFormCommands::SaveClimatologyFile);
    onClick(ui.SaveSiteButton, &TMainFormCommands::SaveSiteFile);
    onClick(ui.ExitButton, &TMainFormCommands::Exit);
    for (QRadioButton* choice : {ui.SimulatedWeatherButton, ui.ObservedWeatherButton})
        connect(choice, &QRadioButton::toggled, this, [this](bool checked) {
            if (checked) Run([this] { WeatherSourceChanged(); });
        });
    const auto onMenu = [this](const char* action, void (TMainFormCommands::*command)()) {
        connect(Form.Controls().Chart->ContextMenu()->findChild<QAction*>(action), &QAction::triggered, this,
                [this, command] { Run([this, command] { (this->*command)(); }); });
    };
    onMenu("SaveAsMetafileAction", &TMainFormCommands::SaveChartAsMetafile);
    onMenu("SaveAsBitmapAction", &TMainFormCommands::SaveChartAsBitmap);
    onMenu("SaveAsPngAction", &TMainFormCommands::SaveChartAsPng);
    onMenu("SaveAsSvgAction", &TMainFormCommands::SaveChartAsSvg);
    onMenu("SaveAsPdfAction", &TMainFormCommands::SaveChartAsPdf);
    onMenu("PrintPreviewAction", &TMainFormCommands::PreviewChart);
    onMenu("PrintAction", &TMainFormCommands::PrintChart);
    connect(ui.StepYearsBox, &QLineEdit::textChanged, this, [this] { Run([this] { StepYearsEdited(); }); });
    connect(ui.StepSlider, &QSlider::valueChanged, this, [this] { Run([this] { StepSliderMoved(); }); });
}

void TMainFormCommands::OpenRegion(const QString& folder) {
    QString chosen = folder;
    if (chosen.isEmpty()) {
        const std::optional<QString> asked = Dialogs.AskFolder("Open a batch's results", QDir::currentPath());
        if (!asked) return;
        chosen = *asked;
    }
    std::optional<region::RegionBatch> batch =
        region::OpenRegionFolder(chosen.toStdString(), ProgramVersion().toStdString(), [&]() -> std::optional<std::string> {
            const std::optional<QString> list = Dialogs.AskFile(DialogSpec(FileDialog::SiteListForMap), chosen);
            if (!list) return std::nullopt;
            return list->toStdString();
        });
    if (!batch) return;
    auto* window = new RegionWindow(std::move(*batch), chosen, Dialogs, &Form);
    window->show();
}

void TMainFormCommands::Run(const std::function<void()>& command) {
    try {
        command();
    } catch (const std::exception& e) {
        Dialogs.Error(QString::fromStdString(e.what()));
    }
}

int TMainFormCommands::StepBoxNumber() const {
    return ParseInteger(Form.Controls().StepYearsBox->text().toStdString(), IntegerForm::Decimal);
}

void TMainFormCommands::WeatherSourceChanged() {
    const TMainFormControls& ui = Form.Controls();
    const bool simulated = ui.SimulatedWeatherButton->isChecked();
    Model.Settings.InpDat = !simulated;
    ui.OpenSimulatedFilesButton->setEnabled(simulated);
    ui.OpenObservedFilesButton->setEnabled(!simulated);
}

std::optional<TScenario> TMainFormCommands::BoxScenario() const {
    const TMainFormControls& ui = Form.Controls();
    return MakeScenario({{},
                         ScenarioValueOfText(ui.ScenarioDeltaT->text().toStdString(), "temperature change"),
                         ScenarioValueOfText(ui.ScenarioPrecFactor->text().toStdString(), "precipitation factor"),
                         "The scenario's temperature change", "The scenario's precipitation factor"});
}

void TMainFormCommands::ShowScenarioOfRun(const std::optional<TScenario>& scenario) {
    const TMainFormControls& ui = Form.Controls();
    SwitchOff({ui.ScenarioDeltaT, ui.ScenarioPrecFactor});
    Form.SetScenarioText(scenario ? QString::fromStdString("Scenario " + scenario->Describe()) : QString());
}

void TMainFormCommands::OpenObservedFiles() {
    const std::optional<TScenario> scenario = BoxScenario();
    const OpenResult result = RunOpenCommand(
        [this, &scenario] { return OpenFilesFromWeather(Model, View, scenario ? &*scenario : nullptr); });
    if (!result.ran) return;
    ShowScenarioOfRun(scenario);
    const TMainFormControls& ui = Form.Controls();
    ui.StepButton->setEnabled(false);
    Form.ShowClimatology();
    ui.InitialiseButton->setEnabled(true);
    Form.ShowInputWeather(Session.ReleasedYears());
    SwitchOff({ui.OpenObservedFilesButton, ui.OpenSimulatedFilesButton, ui.SimulatedWeatherButton,
               ui.GenerateClimatologyButton});
    ui.SaveWeatherButton->setEnabled(true);
    QString summary = QString("There are %1 years in \"%2\"")
                          .arg(Model.AvailableYears)
                          .arg(QString::fromStdString(result.weatherFileName));
    if (result.outcome == RunOutcome::Completed && SoilGapsFilledWithZeros(Model)) {
        summary += QString("\n") + ZERO_SOIL_NOTICE;
        ShowNotice(ZERO_SOIL_NOTICE);
    }
    ui.FileSummaryLabel->setText(summary);
}

void TMainFormCommands::OpenSimulatedFiles() {
    const std::optional<TScenario> scenario = BoxScenario();
    const OpenResult result = RunOpenCommand(
        [this, &scenario] { return OpenFilesSimulated(Model, View, scenario ? &*scenario : nullptr); });
    if (!result.ran) return;
    ShowScenarioOfRun(scenario);
    const TMainFormControls& ui = Form.Controls();
    ui.StepButton->setEnabled(false);
    ui.InitialiseButton->setEnabled(true);
    SwitchOff({ui.OpenObservedFilesButton, ui.OpenSimulatedFilesButton, ui.ObservedWeatherButton,
               ui.GenerateClimatologyButton});
    // What was read and done, as weather from file says it: the page
    // would otherwise stay blank until the first Step.
    if (result.outcome == RunOutcome::Completed)
        ui.FileSummaryLabel->setText(QString("Simulated %1 years of weather from \"%2\"; Initialisation and Step show them")
                                         .arg(Model.AvailableYears)
                                         .arg(QFileInfo(QString::fromStdString(result.read.climatology)).fileName()));
}

void TMainFormCommands::Initialise() {
    if (Session.InitialisationRestarts()) {
        if (!MayDiscardResults()) return;
        // A fresh copy of the program starts with nothing loaded; this one ends.
        const QString program = QCoreApplication::applicationFilePath();
        if (!Restart.StartDetached(program))
            throw KelmarError("Cannot start a new copy of the program (" + program.toStdString() + ").");
        DiscardAgreed = true;
        Restart.Quit();
        return;
    }
    const TMainFormControls& ui = Form.Controls();
    ui.StepLabel->setEnabled(true);
    ui.StepSlider->setEnabled(true);
    ui.StepYearsBox->setEnabled(true);
    ui.StepSlider->setMaximum(Session.StepMaximum());
    ui.StepButton->setEnabled(true);
    Form.RefreshChart(1, 0);
    ui.SaveResultsButton->setEnabled(false);
    ui.ResultsGrid->SetRowCount(0);
}

void TMainFormCommands::Step() {
    const TMainFormControls& ui = Form.Controls();
    const StepOutcome step = Session.Step(StepBoxNumber());
    if (step.cutTo) ui.StepYearsBox->setText(QString::number(*step.cutTo));
    if (step.notice) ShowNotice(step.notice);
    if (step.status) ShowStatus(step.status);
    if (step.kind != StepOutcome::Kind::Released) return;

    ui.Chart->show();
    ui.ChartViewLabel->setEnabled(true);
    ui.ChartViewBox->setEnabled(true);
    Form.ShowYearCount();
    const int yearCount = Session.ReleasedYears();
    Form.ShowResults(yearCount);
    ui.SaveResultsButton->setEnabled(true);
    if (yearCount > 1 && ui.ChartViewBox->count() == 2) ui.ChartViewBox->addItems(YEARLY_VIEWS);
    if (Form.SelectedMonth() == 0)
        Form.RefreshChart(Form.SelectedYear(), Form.SelectedYear());
    else
        Form.RefreshChart(1, yearCount);
    Form.ShowChartOfPage();
    if (!Model.Settings.InpDat && yearCount > 0) {
        Form.ShowInputWeather(yearCount);
        ui.SaveWeatherButton->setEnabled(true);
    }
}

void TMainFormCommands::StepYearsEdited() {
    QLineEdit* box = Form.Controls().StepYearsBox;
    const StepBoxEdit edit = Session.EditStepBox(box->text().toStdString());
    if (edit.kind == StepBoxEdit::Kind::Corrected)
        box->setText(QString::number(edit.value));  // runs this handler again
    else if (edit.kind == StepBoxEdit::Kind::Accepted)
        Form.Controls().StepSlider->setValue(edit.value);
}

void TMainFormCommands::StepSliderMoved() {
    Form.Controls().StepYearsBox->setText(QString::number(Form.Controls().StepSlider->value()));
}

void TMainFormCommands::GenerateClimatologyFile() {
    if (!GenerateClimatology(Model, View)) return;
    ShowStatus(QString("Estimated a climatology from %1 years of weather; it is on the Climatology page, where Save "
                       "file writes it")
                   .arg(YearsForEstimate(Model.Weather, Model.Settings)));
}

void TMainFormCommands::SaveThroughDialog(FileDialog dialog, const char* what,
                                          const std::function<std::string(const std::string&)>& write) {
    const auto name = View.AskFile(dialog);
    if (!name) return;
    const std::string written = write(*name);
    ShowStatus(QString("%1 saved to %2").arg(what, QFileInfo(QString::fromStdString(written)).absoluteFilePath()));
}

void TMainFormCommands::SaveResultsFile() {
    if (!Session.HasYearsToSave()) {
        ShowStatus(NO_YEARS_TO_SAVE);
        return;
    }
    SaveThroughDialog(FileDialog::SaveResults, "Results",
                      [this](const std::string& name) { return Session.SaveResults(name); });
}

void TMainFormCommands::SaveWeatherFile() {
    SaveThroughDialog(FileDialog::SaveWeather, "Weather data", [this](const std::string& name) {
        SaveWeather(name, WeatherRowTextsOfGrid(Form.InputWeatherGridTexts(), Session.WeatherYearsToWrite()), InputsRead);
        return name;
    });
}

void TMainFormCommands::SaveClimatologyFile() {
    // A text in a cell would make a file the readers refuse: nothing is
    // asked or written then.
    CheckClimatologyGridNumbers(Form.ClimatologyGridTexts());
    SaveThroughDialog(FileDialog::SaveClimatology, "Climatology", [this](const std::string& name) {
        SaveClimatology(name, ClimatologyTextsOfGrid(Form.ClimatologyGridTexts()), InputsRead);
        return name;
    });
}

void TMainFormCommands::SaveSiteFile() {
    CheckSiteGridNumbers(Form.SiteGridTexts());
    SaveThroughDialog(FileDialog::SaveSite, "Site parameters", [this](const std::string& name) {
        SaveSite(name, SiteTextsOfGrid(Form.SiteGridTexts()), InputsRead);
        return name;
    });
}

OpenResult TMainFormCommands::RunOpenCommand(const std::function<OpenResult()>& command) {
    const std::uint32_t randomState = Model.Random.State();
    const auto afterRun = [this, randomState] {
        // Shown after every run, also one whose command was abandoned later.
        Session.RunReplacedResults();
        Form.ShowYearCount();
        Form.Controls().RandomStateLabel->setText(QString("Random state %1").arg(randomState));
    };
    OpenResult result;
    try {
        result = command();
        InputsRead = result.read;
    } catch (...) {
        if (RunMadeResults(Model)) afterRun();
        throw;
    }
    if (result.ran) {
        afterRun();
        if (result.outcome == RunOutcome::ClimatologyError) ShowStatus(NO_YEARS_TO_SHOW);
    }
    return result;
}

// One message at a time: a new status replaces an older notice, which
// would otherwise stand beside it as if it were about the same thing.
void TMainFormCommands::ShowStatus(const QString& text) {
    QLabel* label = Form.Controls().StatusMessage;
    label->setText(text);
    label->setToolTip(text);
    Form.Controls().NoticeLabel->clear();
}

void TMainFormCommands::ShowNotice(const QString& text) {
    Form.Controls().NoticeLabel->setText(text);
    Form.Controls().StatusMessage->clear();
    Form.Controls().StatusMessage->setToolTip({});
}

void TMainFormCommands::Exit() { Form.close(); }

void TMainFormCommands::SaveChartPicture(const QString& extension, const char* kind,
                                         void (*save)(QWidget&, const QString&)) {
    const QDir folder(PictureFolder.isEmpty() ? QDir::currentPath() : PictureFolder);
    const QString proposed = folder.absoluteFilePath(ChartPictureName(QDateTime::currentDateTime(), extension));
    const auto chosen = Dialogs.AskPictureFile("Save chart as", PictureNameFilter(kind, extension), proposed);
    if (!chosen) return;
    const QString name = QFileInfo(WithPictureExtension(*chosen, extension)).absoluteFilePath();
    save(*Form.Controls().Chart, name);
    PictureFolder = QFileInfo(name).absolutePath();
    ShowStatus(PictureSavedMessage(name));
}

void TMainFormCommands::SaveChartAsMetafile() { SaveChartPicture(METAFILE_EXTENSION, "Windows metafiles", SaveWidgetAsMetafile); }

void TMainFormCommands::SaveChartAsBitmap() { SaveChartPicture(BITMAP_EXTENSION, "Bitmaps", SaveWidgetAsBitmap); }

void TMainFormCommands::SaveChartAsPng() { SaveChartPicture(PNG_EXTENSION, "PNG images", SaveWidgetAsPng); }

void TMainFormCommands::SaveChartAsSvg() { SaveChartPicture(SVG_EXTENSION, "SVG drawings", SaveWidgetAsSvg); }

void TMainFormCommands::SaveChartAsPdf() { SaveChartPicture(PDF_EXTENSION, "PDF documents", SaveWidgetAsPdf); }

void TMainFormCommands::PrintChart() {
    const std::unique_ptr<QPrinter> printer = Printer();
    // Cancelled: nothing is printed and nothing needs saying.
    if (!Dialogs.AskPrint(*printer)) return;
    PrintWidget(*Form.Controls().Chart, *printer);
    ShowStatus(ChartPrintedMessage(*printer));
}

void TMainFormCommands::PreviewChart() {
    const std::unique_ptr<QPrinter> printer = Printer();
    QWidget& chart = *Form.Controls().Chart;
    if (!Dialogs.PreviewPrint(*printer, [&chart](QPrinter& pages) { PrintWidget(chart, pages); })) return;
    ShowStatus(ChartPrintedMessage(*printer));
}

}  // namespace kelmar::ui
