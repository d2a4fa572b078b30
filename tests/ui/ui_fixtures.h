// Models after a run, and the window driven through its commands with the
// dialogs answered by the caller, shared by the window tests, the window
// benchmark and the screenshot program.
#pragma once

#include <QLineEdit>
#include <QPrinter>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "model/model_fixtures.h"
#include "model/run_model.h"
#include "ui/form/main_form.h"
#include "ui/form/main_form_commands.h"
#include "ui/form/program_restart.h"
#include "ui/form/user_dialogs.h"

namespace kelmar::testing {

// Simulated weather: the worked site and the boreal climatology run for 500 years.
inline std::unique_ptr<TModel> SimulatedRunModel(std::uint32_t seed) {
    auto model = std::make_unique<TModel>();
    model->Site = WorkedSite();
    model->Climate = BorealClimate();
    model->Random.SetState(seed);
    model->Settings.InpDat = false;
    RecordingNotifier notifier;
    RunModel(*model, notifier);
    return model;
}

// Weather from file for `years` years from `firstYear`, every soil
// temperature observed except the (year index, month) pairs in `missing`,
// which the run fills in.
inline std::unique_ptr<TModel> FileRunModel(int firstYear, int years,
                                            const std::vector<std::pair<int, int>>& missing = {}) {
    auto model = std::make_unique<TModel>();
    model->Site = WorkedSite();
    model->Climate = BorealClimate();
    model->Random.SetState(7);
    model->Settings.InpDat = true;
    model->Settings.YearBeg = firstYear;
    model->Settings.YearEnd = firstYear + years - 1;
    model->Weather.FillMissing();
    for (int i = 1; i <= years; ++i)
        for (int m = 1; m <= 12; ++m) {
            model->Weather.Tair[i][m] = model->Climate.av_Ta[m] + 0.5 * (i % 3) - 0.5;
            model->Weather.Prec[i][m] = model->Climate.av_P[m] + 2.0 * i;
            model->Weather.Tsoil[i][m] = model->Climate.av_Ts[m] + 0.25 * (i % 4);
        }
    for (const auto& [yearIndex, month] : missing) model->Weather.Tsoil[yearIndex][month] = MISSING_VALUE;
    RecordingNotifier notifier;
    RunModel(*model, notifier);
    return model;
}

// Answers each file dialog with the name set for it (cancels the others) and
// records the dialogs and messages shown.
class ScriptedDialogs : public ui::UserDialogs {
public:
    std::map<FileDialog, QString> answers;
    std::vector<const FileDialogSpec*> asked;
    QStringList folders;  // where each dialog started
    QStringList warnings, informations, errors;

    std::optional<QString> AskFile(const FileDialogSpec& request, const QString& folder) override {
        asked.push_back(&request);
        folders << folder;
        for (const auto& [dialog, name] : answers)
            if (&DialogSpec(dialog) == &request) return name;
        return std::nullopt;
    }
    // Folder dialogs: answered by `folderAnswer` when set, else cancelled.
    std::optional<QString> folderAnswer;
    QStringList folderTitles;
    std::optional<QString> AskFolder(const QString& title, const QString&) override {
        folderTitles << title;
        return folderAnswer;
    }
    void Warning(const QString& text) override { warnings << text; }
    void Information(const QString& text) override { informations << text; }
    void Error(const QString& text) override { errors << text; }

    // Picture dialogs: the filters and proposed paths asked with; each is
    // answered by `pictureAnswer` when set, else by its proposal when
    // `acceptPictureProposal`, else cancelled.
    QStringList pictureFilters, pictureProposals;
    std::optional<QString> pictureAnswer;
    bool acceptPictureProposal = false;
    std::optional<QString> AskPictureFile(const QString&, const QString& filter, const QString& proposed) override {
        pictureFilters << filter;
        pictureProposals << proposed;
        if (pictureAnswer) return pictureAnswer;
        if (acceptPictureProposal) return proposed;
        return std::nullopt;
    }
    // Unsaved results are discarded unless a test answers otherwise.
    UnsavedAnswer unsavedAnswer = UnsavedAnswer::Discard;
    QStringList unsavedQuestions, helps;
    UnsavedAnswer AskUnsaved(const QString& text) override {
        unsavedQuestions << text;
        return unsavedAnswer;
    }
    void Help(const QString& text) override { helps << text; }

    // Print dialogs: how many were shown; each is answered by `printAnswer`,
    // which may choose on the printer (a file, an orientation) and returns
    // whether to print. None set: printed as the dialog started.
    int printDialogs = 0;
    std::function<bool(QPrinter&)> printAnswer;
    bool AskPrint(QPrinter& printer) override {
        ++printDialogs;
        return printAnswer ? printAnswer(printer) : true;
    }
    // Previews: how many were shown; each is answered by `previewAnswer`,
    // given the printer and the painter of its pages, returning whether it
    // printed. None set: closed without printing or painting.
    int previews = 0;
    std::function<bool(QPrinter&, const PagePainter&)> previewAnswer;
    bool PreviewPrint(QPrinter& printer, const PagePainter& paint) override {
        ++previews;
        return previewAnswer ? previewAnswer(printer, paint) : false;
    }
};

// Records the restart instead of starting a process and quitting.
class RecordingRestart : public ui::ProgramRestart {
public:
    QString started;
    bool quit = false;
    bool startFails = false;
    bool StartDetached(const QString& program) override {
        started = program;
        return !startFails;
    }
    void Quit() override { quit = true; }
};

// The main window with its commands, the dialogs answered by the test.
struct CommandedWindow {
    explicit CommandedWindow(TModel& runModel)
        : model(runModel), form(runModel), commands(form, runModel, dialogs, restart) {}

    TModel& model;
    ui::TMainForm form;
    ScriptedDialogs dialogs;
    RecordingRestart restart;
    ui::TMainFormCommands commands;
};

// Steps until yearCount years are released, as the user does: Initialisation
// before the first Step, the step box set to the years still to show, then "Step".
inline void ReleaseYears(CommandedWindow& window, int yearCount) {
    const Session& session = window.form.AppSession();
    if (session.ReleasedYears() == 0) window.commands.Initialise();
    window.form.Controls().StepYearsBox->setText(QString::number(yearCount - session.ReleasedYears()));
    window.commands.Step();
}

}  // namespace kelmar::testing
