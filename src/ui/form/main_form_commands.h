// The commands behind the window's controls: choose the input mode, open the
// files and run, initialise and step through the years, generate a
// climatology, save the four kinds of file, exit, and restart. The rules of
// stepping and of the results save are the session's (app/session.h); these
// commands apply what it decides to the controls. Each command
// runs to its end before the next event; an error abandons it at that point
// and is shown with its text, and what it had already done stays.
#pragma once

#include <QObject>
#include <QPrinter>

#include <functional>
#include <memory>

#include "app/open_commands.h"
#include "ui/form/main_form.h"
#include "ui/form/program_restart.h"
#include "ui/form/user_dialogs.h"
#include "ui/form/window_workflow_view.h"

namespace kelmar::ui {

class TMainFormCommands : public QObject {
    Q_OBJECT

public:
    TMainFormCommands(TMainForm& form, TModel& model, UserDialogs& dialogs, ProgramRestart& restart);

    void WeatherSourceChanged();
    void OpenObservedFiles();
    void OpenSimulatedFiles();
    void Initialise();
    void Step();
    void StepYearsEdited();
    void StepSliderMoved();
    void GenerateClimatologyFile();
    void SaveResultsFile();
    void SaveWeatherFile();
    void SaveClimatologyFile();
    void SaveSiteFile();
    void Exit();
    // A batch's results as a map in a window of its own (RegionWindow):
    // the folder `folder`, or one asked for when it is empty.
    void OpenRegion(const QString& folder = QString());
    // The chart's context menu: pictures named by the local time, in the
    // current folder; printing through the print dialog, which starts on the
    // default printer, and a print preview to print from.
    void SaveChartAsMetafile();
    void SaveChartAsBitmap();
    void SaveChartAsPng();
    void SaveChartAsSvg();
    void SaveChartAsPdf();
    void PrintChart();
    void PreviewChart();

    // The printer "Print" and "Print preview" start from; the system's
    // default printer unless replaced.
    using PrinterSource = std::function<std::unique_ptr<QPrinter>()>;
    void SetPrinterSource(PrinterSource source) { Printer = std::move(source); }

private:
    void ConnectControls();
    // The keys of the commands, named in the tool-bar buttons' tooltips.
    void ConnectKeys();
    // The keys as F1 lists them, and where the guide is.
    QString HelpText() const;
    // Before results not yet saved are lost (Exit, the window closed,
    // Initialisation's restart): true to go on, after saving them or being
    // told to discard them; false when the person cancels.
    bool MayDiscardResults();
    // Runs a command, showing an error that abandons it.
    void Run(const std::function<void()>& command);
    // The number in the step box; an empty box is not a number.
    int StepBoxNumber() const;
    // Saves through a save dialog; cancel ends the command quietly. `write`
    // returns the name it wrote, which the status panel then shows in full.
    void SaveThroughDialog(FileDialog dialog, const char* what,
                           const std::function<std::string(const std::string&)>& write);
    // Runs an open command; after its run (even when the command is then
    // abandoned by an error) the status panel shows the year count and the
    // random state the run started from.
    OpenResult RunOpenCommand(const std::function<OpenResult()>& command);
    // The scenario of the boxes on the Climatology page; nothing when both
    // are empty. A text that is not a number raises KelmarError naming the box.
    std::optional<TScenario> BoxScenario() const;
    // After a run: the boxes are closed (one run per program start) and the
    // chart title names the scenario.
    void ShowScenarioOfRun(const std::optional<TScenario>& scenario);
    // What the last command did, in the status panel.
    void ShowStatus(const QString& text);
    // Shows `text` in the notice colour in place of any status.
    void ShowNotice(const QString& text);
    // Asks where to save the chart as a picture of `kind` ("PNG images"),
    // proposing a name of the local time, then saves it and shows its path.
    void SaveChartPicture(const QString& extension, const char* kind, void (*save)(QWidget&, const QString&));

    TMainForm& Form;
    TModel& Model;
    kelmar::Session& Session;  // the window's
    UserDialogs& Dialogs;
    ProgramRestart& Restart;
    WindowWorkflowView View;
    PrinterSource Printer;
    // The files the last open command read, which the saves may not lose.
    RunInputs InputsRead;
    // Where the last chart picture was saved; empty before the first.
    QString PictureFolder;
    // The person agreed to lose the unsaved results and the program is ending:
    // the window's closing does not ask again.
    bool DiscardAgreed = false;
};

}  // namespace kelmar::ui
