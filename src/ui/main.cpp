// The window application: one model for the life of the process, shown in
// the main window.
#include <QApplication>
#include <QIcon>

#include <cstddef>
#include <cstdio>
#include <exception>
#include <memory>

#include "model/model_state.h"
#include "ui/form/main_form.h"
#include "ui/form/main_form_commands.h"
#include "ui/form/program_restart.h"
#include "ui/form/qt_user_dialogs.h"
#include "ui/form/window_options.h"

int main(int argc, char* argv[]) {
    // --help and --version are answered before QApplication, which needs a
    // display (and stops the program without one).
    QStringList rawArguments;
    for (int i = 0; i < argc; ++i) rawArguments << QString::fromLocal8Bit(argv[i]);
    if (const kelmar::ui::WindowOptions early = kelmar::ui::ParseWindowOptions(rawArguments);
        early.help || early.version) {
        const QByteArray text = (early.help ? kelmar::ui::WindowHelpText() : kelmar::ui::WindowVersionText()).toLocal8Bit();
        const bool written = std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stdout) ==
                                 static_cast<std::size_t>(text.size()) &&
                             std::fflush(stdout) == 0;
        if (!written) std::fprintf(stderr, "kelmar: cannot write the standard output\n");
        return written ? 0 : 1;
    }
    QApplication application(argc, argv);
    // Qt's own options are gone from the arguments now.
    const kelmar::ui::WindowOptions options = kelmar::ui::ParseWindowOptions(QApplication::arguments());
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "kelmar: %s\nusage: kelmar [--seed N] [--region DIR] (kelmar --help tells more)\n",
                     qPrintable(options.error));
        return 2;
    }
    // The installed desktop entry and icon (packaging/), both named by the
    // application's id, so that a desktop shows the window under them.
    QGuiApplication::setDesktopFileName(QStringLiteral(KELMAR_APP_ID));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral(KELMAR_APP_ID)));
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
    if (!options.region.isEmpty()) {
        try {
            commands.OpenRegion(options.region);
        } catch (const std::exception& e) {
            dialogs.Error(QString::fromStdString(e.what()));
        }
    }
    return application.exec();
}
