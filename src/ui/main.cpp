// The window application: one model for the life of the process, shown in
// the main window.
#include <QApplication>

#include <cstdio>
#include <memory>

#include "model/model_state.h"
#include "ui/form/main_form.h"
#include "ui/form/main_form_commands.h"
#include "ui/form/program_restart.h"
#include "ui/form/qt_user_dialogs.h"
#include "ui/form/window_options.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    const kelmar::ui::WindowOptions options = kelmar::ui::ParseWindowOptions(QApplication::arguments());
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "kelmar: %s\nusage: kelmar [--seed N]\n", qPrintable(options.error));
        return 2;
    }
    // The model holds fixed stores for 500 years: too large for the stack.
    auto model = std::make_unique<kelmar::TModel>();
    if (options.seed) model->Random.SetState(*options.seed);
    // The program starts in the input mode "Weather from file".
    model->Settings.InpDat = true;
    kelmar::ui::TMainForm window(*model);
    kelmar::ui::QtUserDialogs dialogs(&window);
    kelmar::ui::QtProgramRestart restart;
    kelmar::ui::TMainFormCommands commands(window, *model, dialogs, restart);
    window.showMaximized();
    return application.exec();
}
