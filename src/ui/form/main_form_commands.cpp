#include "ui/form/main_form_commands.h"

#include <QAbstractButton>
#include <QAction>
#include <QDateTime>
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
#include "app/presentation/grid_texts.h"
#include "app/results_file_name.h"
#include "app/save_commands.h"
#include "app/scenario_request.h"
#include "app/session.h"
#include "app/run_checks.h"
#include "io/number_text.h"
#include "io/read_errors.h"
#include "io/results_file.h"
#include "model/errors.h"
#include "ui/widgets/line_chart.h"
#include "ui/pictures/chart_pictures.h"
#include "ui/pictures/chart_printing.h"
#include "ui/pictures/picture_texts.h"
#include "ui/widgets/string_grid.h"

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
    RadioButton2Click();
}

void TMainFormCommands::ConnectControls() {
    const TMainFormControls& ui = Form.Controls();
    const auto onClick = [this](QAbstractButton* button, void (TMainFormCommands::*command)()) {
        connect(button, &QAbstractButton::clicked, this, [this, command] { Run([this, command] { (this->*command)(); }); });
    };
    onClick(ui.RunBtn, &TMainFormCommands::RunBtnClick);
    onClick(ui.OpenBtn, &TMainFormCommands::OpenBtnClick);
    onClick(ui.InitBtn, &TMainFormCommands::InitBtnClick);
    onClick(ui.StepBtn, &TMainFormCommands::StepBtnClick);
    onClick(ui.LoadCliBtn, &TMainFormCommands::LoadCliBtnClick);
    onClick(ui.SaveBtn, &TMainFormCommands::SaveBtnClick);
    onClick(ui.SaveWedBtn, &TMainFormCommands::SaveWedBtnClick);
    onClick(ui.SaveCliBtn, &TMainFormCommands::SaveCliBtnClick);
    onClick(ui.SaveSoiBtn, &TMainFormCommands::SaveSoiBtnClick);
    onClick(ui.SpeedButton1, &TMainFormCommands::SpeedButton1Click);
    for (QRadioButton* choice : {ui.RadioButton1, ui.RadioButton2})
        connect(choice, &QRadioButton::toggled, this, [this](bool checked) {
            if (checked) Run([this] { RadioButton2Click(); });
        });
    const auto onMenu = [this](const char* action, void (TMainFormCommands::*command)()) {
        connect(Form.Controls().Chart1->ContextMenu()->findChild<QAction*>(action), &QAction::triggered, this,
                [this, command] { Run([this, command] { (this->*command)(); }); });
    };
    onMenu("Saveasmetafile1", &TMainFormCommands::Saveasmetafile1Click);
    onMenu("Saveasbitmap1", &TMainFormCommands::Saveasbitmap1Click);
    onMenu("SaveasPng1", &TMainFormCommands::SaveasPng1Click);
    onMenu("SaveasSvg1", &TMainFormCommands::SaveasSvg1Click);
    onMenu("SaveasPdf1", &TMainFormCommands::SaveasPdf1Click);
    onMenu("ipPrint", &TMainFormCommands::ipPrintClick);
    connect(ui.Edit1, &QLineEdit::textChanged, this, [this] { Run([this] { Edit1Change(); }); });
    connect(ui.TrackBar1, &QSlider::valueChanged, this, [this] { Run([this] { TrackBar1Change(); }); });
}

void TMainFormCommands::Run(const std::function<void()>& command) {
    try {
        command();
    } catch (const std::exception& e) {
        Dialogs.Error(QString::fromStdString(e.what()));
    }
}

int TMainFormCommands::StepBoxNumber() const {
    return ParseInteger(Form.Controls().Edit1->text().toStdString(), IntegerForm::Decimal);
}

void TMainFormCommands::RadioButton2Click() {
    const TMainFormControls& ui = Form.Controls();
    const bool simulated = ui.RadioButton1->isChecked();
    Model.Settings.InpDat = !simulated;
    ui.OpenBtn->setEnabled(simulated);
    ui.RunBtn->setEnabled(!simulated);
}

std::optional<TScenario> TMainFormCommands::BoxScenario() const {
    const TMainFormControls& ui = Form.Controls();
    return MakeScenario({{},
                         ScenarioValueOfText(ui.ScenarioDeltaT->text().toStdString(), "temperature change"),
                         ScenarioValueOfText(ui.ScenarioPrecFactor->text().toStdString(), "precipitation factor")});
}

void TMainFormCommands::ShowScenarioOfRun(const std::optional<TScenario>& scenario) {
    const TMainFormControls& ui = Form.Controls();
    SwitchOff({ui.ScenarioDeltaT, ui.ScenarioPrecFactor});
    Form.SetScenarioText(scenario ? QString::fromStdString("Scenario " + scenario->Describe()) : QString());
}

void TMainFormCommands::RunBtnClick() {
    const std::optional<TScenario> scenario = BoxScenario();
    const OpenResult result = RunOpenCommand(
        [this, &scenario] { return OpenFilesFromWeather(Model, View, scenario ? &*scenario : nullptr); });
    if (!result.ran) return;
    ShowScenarioOfRun(scenario);
    const TMainFormControls& ui = Form.Controls();
    ui.StepBtn->setEnabled(false);
    Form.ShowClimatology();
    ui.InitBtn->setEnabled(true);
    Form.ShowInputWeather(Session.ReleasedYears());
    SwitchOff({ui.RunBtn, ui.OpenBtn, ui.RadioButton1, ui.LoadCliBtn});
    ui.SaveWedBtn->setEnabled(true);
    QString summary = QString("There are %1 years in \"%2\"")
                          .arg(Model.AvailableYears)
                          .arg(QString::fromStdString(result.weatherFileName));
    if (result.outcome == RunOutcome::Completed && SoilGapsFilledWithZeros(Model)) {
        summary += QString("\n") + ZERO_SOIL_NOTICE;
        ui.Label5->setText(ZERO_SOIL_NOTICE);
    }
    ui.Label3->setText(summary);
}

void TMainFormCommands::OpenBtnClick() {
    const std::optional<TScenario> scenario = BoxScenario();
    const OpenResult result = RunOpenCommand(
        [this, &scenario] { return OpenFilesSimulated(Model, View, scenario ? &*scenario : nullptr); });
    if (!result.ran) return;
    ShowScenarioOfRun(scenario);
    const TMainFormControls& ui = Form.Controls();
    ui.StepBtn->setEnabled(false);
    ui.InitBtn->setEnabled(true);
    SwitchOff({ui.RunBtn, ui.OpenBtn, ui.RadioButton2, ui.LoadCliBtn});
}

void TMainFormCommands::InitBtnClick() {
    if (Session.InitialisationRestarts()) {
        // A fresh copy of the program starts with nothing loaded; this one ends.
        const QString program = QCoreApplication::applicationFilePath();
        if (!Restart.StartDetached(program))
            throw KelmarError("Cannot start a new copy of the program (" + program.toStdString() + ").");
        Restart.Quit();
        return;
    }
    const TMainFormControls& ui = Form.Controls();
    ui.Label1->setEnabled(true);
    ui.TrackBar1->setEnabled(true);
    ui.Edit1->setEnabled(true);
    ui.TrackBar1->setMaximum(Session.StepMaximum());
    ui.StepBtn->setEnabled(true);
    Form.RefreshChart(1, 0);
    ui.SaveBtn->setEnabled(false);
    ui.Grid1->SetRowCount(0);
}

void TMainFormCommands::StepBtnClick() {
    const TMainFormControls& ui = Form.Controls();
    const StepOutcome step = Session.Step(StepBoxNumber());
    if (step.cutTo) ui.Edit1->setText(QString::number(*step.cutTo));
    if (step.notice) ui.Label5->setText(step.notice);
    if (step.status) ShowStatus(step.status);
    if (step.kind != StepOutcome::Kind::Released) return;

    ui.Chart1->show();
    ui.Label2->setEnabled(true);
    ui.ComboBox1->setEnabled(true);
    Form.ShowYearCount();
    const int yearCount = Session.ReleasedYears();
    Form.ShowResults(yearCount);
    ui.SaveBtn->setEnabled(true);
    ui.TrackBar2->setMaximum(yearCount);
    if (yearCount > 1 && ui.ComboBox1->count() == 2) ui.ComboBox1->addItems(YEARLY_VIEWS);
    if (Form.SelectedMonth() == 0)
        Form.RefreshChart(Form.SelectedYear(), Form.SelectedYear());
    else
        Form.RefreshChart(1, yearCount);
    Form.PageControl1Change();
    if (!Model.Settings.InpDat && yearCount > 0) {
        Form.ShowInputWeather(yearCount);
        ui.SaveWedBtn->setEnabled(true);
    }
}

void TMainFormCommands::Edit1Change() {
    QLineEdit* box = Form.Controls().Edit1;
    const StepBoxEdit edit = Session.EditStepBox(box->text().toStdString());
    if (edit.kind == StepBoxEdit::Kind::Corrected)
        box->setText(QString::number(edit.value));  // runs this handler again
    else if (edit.kind == StepBoxEdit::Kind::Accepted)
        Form.Controls().TrackBar1->setValue(edit.value);
}

void TMainFormCommands::TrackBar1Change() {
    Form.Controls().Edit1->setText(QString::number(Form.Controls().TrackBar1->value()));
}

void TMainFormCommands::LoadCliBtnClick() { GenerateClimatology(Model, View); }

void TMainFormCommands::SaveThroughDialog(FileDialog dialog, const char* what,
                                          const std::function<std::string(const std::string&)>& write) {
    const auto name = View.AskFile(dialog);
    if (!name) return;
    const std::string written = write(*name);
    ShowStatus(QString("%1 saved to %2").arg(what, QFileInfo(QString::fromStdString(written)).absoluteFilePath()));
}

void TMainFormCommands::SaveBtnClick() {
    if (!Session.HasYearsToSave()) {
        ShowStatus(NO_YEARS_TO_SAVE);
        return;
    }
    SaveThroughDialog(FileDialog::SaveResults, "Results",
                      [this](const std::string& name) { return Session.SaveResults(name); });
}

void TMainFormCommands::SaveWedBtnClick() {
    SaveThroughDialog(FileDialog::SaveWeather, "Weather data", [this](const std::string& name) {
        SaveWeather(name, WeatherRowTextsOfGrid(Form.InputWeatherGridTexts(), Session.WeatherYearsToWrite()), InputsRead);
        return name;
    });
}

void TMainFormCommands::SaveCliBtnClick() {
    // A text in a cell would make a file the readers refuse: nothing is
    // asked or written then.
    Form.CheckClimatologyGridNumbers();
    SaveThroughDialog(FileDialog::SaveClimatology, "Climatology", [this](const std::string& name) {
        SaveClimatology(name, ClimatologyTextsOfGrid(Form.ClimatologyGridTexts()), InputsRead);
        return name;
    });
}

void TMainFormCommands::SaveSoiBtnClick() {
    Form.CheckSiteGridNumbers();
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

void TMainFormCommands::ShowStatus(const QString& text) {
    QLabel* label = Form.Controls().StatusMessage;
    label->setText(text);
    label->setToolTip(text);
}

void TMainFormCommands::SpeedButton1Click() { Form.close(); }

void TMainFormCommands::SaveChartPicture(const QString& extension, void (*save)(QWidget&, const QString&)) {
    const QString name = ChartPictureName(QDateTime::currentDateTime(), extension);
    save(*Form.Controls().Chart1, name);
    Dialogs.Information(PictureSavedMessage(name));
}

void TMainFormCommands::Saveasmetafile1Click() { SaveChartPicture(METAFILE_EXTENSION, SaveWidgetAsMetafile); }

void TMainFormCommands::Saveasbitmap1Click() { SaveChartPicture(BITMAP_EXTENSION, SaveWidgetAsBitmap); }

void TMainFormCommands::SaveasPng1Click() { SaveChartPicture(PNG_EXTENSION, SaveWidgetAsPng); }

void TMainFormCommands::SaveasSvg1Click() { SaveChartPicture(SVG_EXTENSION, SaveWidgetAsSvg); }

void TMainFormCommands::SaveasPdf1Click() { SaveChartPicture(PDF_EXTENSION, SaveWidgetAsPdf); }

void TMainFormCommands::ipPrintClick() {
    const std::unique_ptr<QPrinter> printer = Printer();
    PrintWidget(*Form.Controls().Chart1, *printer);
}

}  // namespace kelmar::ui
