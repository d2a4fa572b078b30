// The window as the command sequences see it: its dialogs, message boxes and
// the grid refills that follow each file read.
#pragma once

#include <QString>

#include "app/workflow_view.h"
#include "ui/form/main_form.h"
#include "ui/form/user_dialogs.h"

namespace kelmar::ui {

class WindowWorkflowView : public WorkflowView {
public:
    WindowWorkflowView(TMainForm& form, TModel& model, UserDialogs& dialogs)
        : Form(form), Model(model), Dialogs(dialogs) {}

    std::optional<std::string> AskFile(FileDialog dialog) override;
    void Warning(const std::string& text) override;
    void SiteFileRead() override;
    void ClimatologyFileRead() override;
    void ShowSiteParams() override { Form.ShowSiteParams(); }
    void ShowClimatology() override { Form.ShowClimatology(); }

private:
    TMainForm& Form;
    TModel& Model;
    UserDialogs& Dialogs;
    // Where the next file dialog starts: the folder of the last file chosen,
    // or the current folder before the first choice. The current folder
    // itself never changes.
    QString LastFolder;
};

}  // namespace kelmar::ui
