// The keys of the window's commands: standard shortcuts (the platform's
// own sequences for Open, Save, Print, Quit and Help) and a few of KELMAR's
// own, as window actions, so that they work wherever the focus is in the
// window. The tool bar keeps the layout of the guide's pictures; its buttons'
// tooltips name the keys instead of a menu bar.
#include <QAbstractButton>
#include <QPushButton>
#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QRadioButton>
#include <QTabWidget>
#include <QToolButton>

#include "ui/form/main_form_commands.h"
#include "ui/widgets/line_chart.h"

namespace kelmar::ui {

namespace {

// The tooltip of a tool-bar button with its key: "Save file (Ctrl+S)".
void NameKey(QAbstractButton* button, const QKeySequence& key) {
    button->setToolTip(QString("%1 (%2)").arg(button->toolTip(), key.toString(QKeySequence::NativeText)));
}

// The platform's Quit key; Ctrl+Q where the platform names none (some
// desktops and the headless platform leave it empty).
QKeySequence QuitKey() {
    const QKeySequence standard(QKeySequence::Quit);
    return standard.isEmpty() ? QKeySequence(Qt::CTRL | Qt::Key_Q) : standard;
}

}  // namespace

void TMainFormCommands::ConnectKeys() {
    const TMainFormControls& ui = Form.Controls();
    const auto addKey = [this](const char* name, const QKeySequence& key, std::function<void()> command) {
        auto* action = new QAction(&Form);
        action->setObjectName(name);
        action->setShortcut(key);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, std::move(command));
        Form.addAction(action);
        return key;
    };
    // A key presses its button, so that it does what the button does and
    // nothing while the button is switched off.
    const auto press = [](QAbstractButton* button) {
        return [button] {
            if (button->isEnabled()) button->click();
        };
    };
    NameKey(ui.SaveResultsButton, addKey("SaveKey", QKeySequence::Save, press(ui.SaveResultsButton)));
    NameKey(ui.InitialiseButton, addKey("InitialiseKey", QKeySequence(Qt::CTRL | Qt::Key_I), press(ui.InitialiseButton)));
    NameKey(ui.StepButton, addKey("StepKey", QKeySequence(Qt::CTRL | Qt::Key_T), press(ui.StepButton)));
    NameKey(ui.ExitButton, addKey("QuitKey", QuitKey(), press(ui.ExitButton)));
    // Open files of the weather source chosen on the Input page.
    addKey("OpenKey", QKeySequence::Open, [ui] {
        QAbstractButton* open = ui.SimulatedWeatherButton->isChecked() ? ui.OpenSimulatedFilesButton
                                                                        : ui.OpenObservedFilesButton;
        if (open->isEnabled()) open->click();
    });
    addKey("PrintKey", QKeySequence::Print, [ui] {
        if (auto* print = ui.Chart->ContextMenu()->findChild<QAction*>("PrintAction")) print->trigger();
    });
    addKey("HelpKey", QKeySequence::HelpContents, [this] { Dialogs.Help(HelpText()); });
    addKey("RegionKey", QKeySequence(Qt::CTRL | Qt::Key_R), [this] { Run([this] { OpenRegion(); }); });
    // Alt+1 .. Alt+4: the pages Input, Site params, Climatology, Results.
    for (int page = 0; page < ui.Pages->count(); ++page)
        addKey("PageKey", QKeySequence(Qt::ALT | (Qt::Key_1 + page)), [ui, page] {
            ui.Pages->setCurrentIndex(page);
            ui.Pages->currentWidget()->setFocus(Qt::ShortcutFocusReason);
        });
}

QString TMainFormCommands::HelpText() const {
    QStringList lines;
    const auto line = [&lines](const QKeySequence& key, const char* what) {
        lines << QString("%1: %2").arg(key.toString(QKeySequence::NativeText), what);
    };
    line(QKeySequence::Open, "Open files of the weather source chosen on the Input page");
    line(QKeySequence(Qt::CTRL | Qt::Key_I), "Initialisation");
    line(QKeySequence(Qt::CTRL | Qt::Key_T), "Step");
    line(QKeySequence::Save, "Save the results");
    line(QKeySequence::Print, "Print the chart");
    line(QKeySequence(Qt::ALT | Qt::Key_1), "Input page (Alt+2, Alt+3, Alt+4: the other pages)");
    line(QKeySequence(Qt::CTRL | Qt::Key_Tab), "Next page");
    line(QKeySequence(Qt::Key_Tab), "Next cell; past a grid's last cell, the next control");
    line(QKeySequence(Qt::CTRL | Qt::Key_R), "Open a batch's results as a map of its sites");
    line(QuitKey(), "Exit");
    lines << QString() << "The guide is README.md in share/doc/kelmar of the installation "
                          "(/usr/share/doc/kelmar in the Debian package).";
    return lines.join('\n');
}

bool TMainFormCommands::MayDiscardResults() {
    if (DiscardAgreed || !Session.HasUnsavedResults()) return true;
    switch (Dialogs.AskUnsaved(QString("The results of %1 have not been saved. Save them first?")
                                   .arg(QString::fromStdString(YearCountText(Session.ReleasedYears())).trimmed()))) {
    case UserDialogs::UnsavedAnswer::Save:
        Run([this] { SaveResultsFile(); });
        return !Session.HasUnsavedResults();  // a cancelled or failed save loses nothing either
    case UserDialogs::UnsavedAnswer::Discard: return true;
    case UserDialogs::UnsavedAnswer::Cancel: break;
    }
    return false;
}

}  // namespace kelmar::ui
