#include "ui/main_form_commands.h"

#include <QAbstractButton>
#include <QAction>
#include <QDateTime>
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
#include "app/results_file_name.h"
#include "io/climatology_file.h"
#include "io/number_text.h"
#include "io/results_file.h"
#include "io/site_file.h"
#include "io/weather_file.h"
#include "model/errors.h"
#include "ui/line_chart.h"
#include "ui/pictures/chart_pictures.h"
#include "ui/pictures/chart_printing.h"
#include "ui/pictures/picture_texts.h"
#include "ui/string_grid.h"

namespace kelmar::ui {

namespace {

const char* const WHOLE_INPUT_NOTICE = "The calculation was made for the whole input data";

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

int TMainFormCommands::StepMaximum() const { return Model.Settings.InpDat ? Model.AvailableYears : MAX_YEARS; }

int TMainFormCommands::GetStep() const {
    return ParseInteger(Form.Controls().Edit1->text().toStdString(), IntegerForm::Decimal);
}

void TMainFormCommands::RadioButton2Click() {
    const TMainFormControls& ui = Form.Controls();
    const bool simulated = ui.RadioButton1->isChecked();
    Model.Settings.InpDat = !simulated;
    ui.OpenBtn->setEnabled(simulated);
    ui.RunBtn->setEnabled(!simulated);
}

void TMainFormCommands::RunBtnClick() {
    const OpenResult result = OpenFilesFromWeather(Model, View);
    if (!result.ran) return;
    const TMainFormControls& ui = Form.Controls();
    ui.StepBtn->setEnabled(false);
    Form.ShowClimatology();
    Form.SetYearCount(0);
    ui.InitBtn->setEnabled(true);
    Form.ShowInputWeather(Model.Settings.YearCount);
    SwitchOff({ui.RunBtn, ui.OpenBtn, ui.RadioButton1, ui.LoadCliBtn});
    ui.SaveWedBtn->setEnabled(true);
    ui.Label3->setText(QString("There are %1 years in \"%2\"")
                           .arg(Model.AvailableYears)
                           .arg(QString::fromStdString(result.weatherFileName)));
}

void TMainFormCommands::OpenBtnClick() {
    const OpenResult result = OpenFilesSimulated(Model, View);
    if (!result.ran) return;
    const TMainFormControls& ui = Form.Controls();
    ui.StepBtn->setEnabled(false);
    Form.SetYearCount(0);
    ui.InitBtn->setEnabled(true);
    SwitchOff({ui.RunBtn, ui.OpenBtn, ui.RadioButton2, ui.LoadCliBtn});
}

void TMainFormCommands::InitBtnClick() {
    if (Model.Settings.YearCount > 0) {
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
    ui.TrackBar1->setMaximum(StepMaximum());
    ui.StepBtn->setEnabled(true);
    Form.RefreshChart(1, 0);
    ui.SaveBtn->setEnabled(false);
    ui.Grid1->SetRowCount(0);
}

void TMainFormCommands::StepBtnClick() {
    const TMainFormControls& ui = Form.Controls();
    const int maximum = StepMaximum();
    if (GetStep() + Model.Settings.YearCount > maximum) {
        ui.Edit1->setText(QString::number(maximum - Model.Settings.YearCount));
        if (Model.Settings.InpDat) ui.Label5->setText(WHOLE_INPUT_NOTICE);
    }
    Model.Settings.GetStep = GetStep();
    if (Model.Settings.GetStep <= 0) return;

    ui.Chart1->show();
    ui.Label2->setEnabled(true);
    ui.ComboBox1->setEnabled(true);
    Form.SetYearCount(Model.Settings.YearCount + Model.Settings.GetStep);
    const int yearCount = Model.Settings.YearCount;
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
    const QString text = box->text();
    if (text.isEmpty()) return;
    const int maximum = StepMaximum();
    // Digits only: a number too long for an int is above the maximum too.
    bool fits = false;
    const int number = text.toInt(&fits);
    if (!fits || number > maximum) {
        box->setText(QString::number(maximum));  // runs this handler again
        return;
    }
    Model.Settings.GetStep = number;
    Form.Controls().TrackBar1->setValue(number);
}

void TMainFormCommands::TrackBar1Change() {
    Form.Controls().Edit1->setText(QString::number(Form.Controls().TrackBar1->value()));
}

void TMainFormCommands::LoadCliBtnClick() { GenerateClimatology(Model, View); }

void TMainFormCommands::SaveThroughDialog(FileDialog dialog, const std::function<void(const std::string&)>& write) {
    const auto name = View.AskFile(dialog);
    if (name) write(*name);
}

void TMainFormCommands::SaveBtnClick() {
    SaveThroughDialog(FileDialog::SaveResults, [this](const std::string& name) {
        WriteResultsFile(ResultsFileName(name), Model.Results, Model.Settings.YearCount);
    });
}

void TMainFormCommands::SaveWedBtnClick() {
    SaveThroughDialog(FileDialog::SaveWeather, [this](const std::string& name) {
        WriteWeatherFile(name, Form.InputWeatherGridTexts(), WeatherYearsToWrite(Model));
    });
}

void TMainFormCommands::SaveCliBtnClick() {
    SaveThroughDialog(FileDialog::SaveClimatology,
                      [this](const std::string& name) { WriteClimatologyFile(name, Form.ClimatologyGridTexts()); });
}

void TMainFormCommands::SaveSoiBtnClick() {
    SaveThroughDialog(FileDialog::SaveSite,
                      [this](const std::string& name) { WriteSiteFile(name, Form.SiteGridTexts()); });
}

void TMainFormCommands::SpeedButton1Click() { Form.close(); }

void TMainFormCommands::SaveChartPicture(const QString& extension, void (*save)(QWidget&, const QString&)) {
    const QString name = ChartPictureName(QDateTime::currentDateTime(), extension);
    save(*Form.Controls().Chart1, name);
    Dialogs.Information(PictureSavedMessage(name));
}

void TMainFormCommands::Saveasmetafile1Click() { SaveChartPicture(METAFILE_EXTENSION, SaveWidgetAsMetafile); }

void TMainFormCommands::Saveasbitmap1Click() { SaveChartPicture(BITMAP_EXTENSION, SaveWidgetAsBitmap); }

void TMainFormCommands::ipPrintClick() {
    const std::unique_ptr<QPrinter> printer = Printer();
    PrintWidget(*Form.Controls().Chart1, *printer);
}

}  // namespace kelmar::ui
