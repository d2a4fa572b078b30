// Every command by keyboard on the real window, shown and active so that key
// presses go through the window's shortcuts as a person's do; Tab out of the
// grids; and the question before unsaved results are lost.
#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "ui/ui_fixtures.h"
#include "ui/widgets/string_grid.h"

namespace kelmar::ui {
namespace {

namespace fs = std::filesystem;
using Answer = UserDialogs::UnsavedAnswer;

QString Example(const char* name) { return QString(KELMAR_EXAMPLES_DIR "/") + name; }

// A key pressed where the focus is, as the keyboard delivers it.
void Press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* focus = QApplication::focusWidget();
    QTest::keyClick(focus ? focus : QApplication::activeWindow(), Qt::Key(key), modifiers);
}

// The window as the program starts it ("Weather from file"), shown and
// active, its file dialogs answered with the examples.
struct KeyedWindow {
    std::unique_ptr<TModel> model = [] {
        auto m = std::make_unique<TModel>();
        m->Settings.InpDat = true;
        m->Random.SetState(1961);
        return m;
    }();
    testing::CommandedWindow window{*model};
    const TMainFormControls& ui = window.form.Controls();

    KeyedWindow() {
        window.dialogs.answers[FileDialog::SiteForRun] = Example("soil.sit");
        window.dialogs.answers[FileDialog::WeatherForRun] = Example("weather.wed");
        window.dialogs.answers[FileDialog::ClimatologyForGaps] = Example("climat.cld");
        window.form.show();
        window.form.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window.form));
    }
    ~KeyedWindow() { window.form.hide(); }

    // Ctrl+O, Ctrl+I, then `years` in the step box and Ctrl+T.
    // Opens and initialises; steps `years` unless none (a step of 0 is refused).
    void OpenAndStep(int years) {
        Press(Qt::Key_O, Qt::ControlModifier);
        Press(Qt::Key_I, Qt::ControlModifier);
        if (years > 0) Step(years);
    }
    void Step(int years) {
        ui.StepYearsBox->setText(QString::number(years));
        Press(Qt::Key_T, Qt::ControlModifier);
    }
    bool Ended() const { return !window.form.isVisible() || window.restart.quit; }
};

class Keys : public ::testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() / ("kelmar-keys-" + std::to_string(QCoreApplication::applicationPid()));
    QString ResultsFile() const { return QString::fromStdString((dir / "run.csv").string()); }
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }
};

TEST_F(Keys, EveryToolBarCommandHasAKeyThatItsTooltipNames) {
    KeyedWindow w;
    const TMainFormControls& ui = w.ui;
    w.OpenAndStep(3);
    EXPECT_EQ(w.window.form.AppSession().ReleasedYears(), 3) << "Ctrl+O, Ctrl+I and Ctrl+T open, initialise and step";
    EXPECT_TRUE(w.window.dialogs.errors.isEmpty()) << w.window.dialogs.errors.join('\n').toStdString();

    w.window.dialogs.answers[FileDialog::SaveResults] = ResultsFile();
    Press(Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(fs::exists(dir / "run.csv")) << "Ctrl+S saves the results";

    Press(Qt::Key_3, Qt::AltModifier);
    EXPECT_EQ(ui.Pages->currentIndex(), 2) << "Alt+3: the Climatology page";

    Press(Qt::Key_F1);
    ASSERT_EQ(w.window.dialogs.helps.size(), 1) << "F1 shows the help";
    EXPECT_TRUE(w.window.dialogs.helps[0].contains("share/doc/kelmar")) << w.window.dialogs.helps[0].toStdString();

    // Each tool-bar button's tooltip names the key that does what it does,
    // and Tab can reach it.
    const struct {
        QToolButton* button;
        QKeySequence key;
    } named[] = {{ui.SaveResultsButton, QKeySequence::Save},
                 {ui.InitialiseButton, QKeySequence(Qt::CTRL | Qt::Key_I)},
                 {ui.StepButton, QKeySequence(Qt::CTRL | Qt::Key_T)},
                 {ui.ExitButton, QKeySequence(Qt::CTRL | Qt::Key_Q)}};
    for (const auto& n : named) {
        const QString key = n.key.toString(QKeySequence::NativeText);
        EXPECT_TRUE(n.button->toolTip().contains(key))
            << n.button->objectName().toStdString() << ": \"" << n.button->toolTip().toStdString() << "\" lacks "
            << key.toStdString();
    }

    Press(Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(w.window.form.isVisible()) << "Ctrl+Q exits; everything was saved, so without a question";
    EXPECT_TRUE(w.window.dialogs.unsavedQuestions.isEmpty());
}

// Tab walks a grid's cells and then leaves it (Shift+Tab backwards), and the
// tool bar's buttons take the focus on the way round the window.
TEST_F(Keys, TabLeavesTheGridsAndReachesTheToolBar) {
    KeyedWindow w;
    const TMainFormControls& ui = w.ui;
    w.OpenAndStep(2);
    for (StringGrid* grid : {ui.InputWeatherGrid, ui.SiteGrid, ui.ClimatologyGrid, ui.ResultsGrid})
        for (const Qt::Key key : {Qt::Key_Tab, Qt::Key_Backtab}) {
            for (int page = 0; page < ui.Pages->count(); ++page)
                if (ui.Pages->widget(page)->isAncestorOf(grid)) ui.Pages->setCurrentIndex(page);
            grid->setFocus(Qt::TabFocusReason);
            ASSERT_EQ(QApplication::focusWidget(), grid) << grid->objectName().toStdString();
            const int cells = grid->RowCount() * grid->ColCount();
            int presses = 0;
            while (QApplication::focusWidget() == grid && presses <= cells + 1) {
                Press(key);
                ++presses;
            }
            EXPECT_NE(QApplication::focusWidget(), grid)
                << grid->objectName().toStdString() << ": still in the grid after " << presses << " presses of "
                << (key == Qt::Key_Tab ? "Tab" : "Shift+Tab") << " over its " << cells << " cells";
        }

    // The tool bar comes first in the window's focus order: its buttons lie
    // a few presses either side of the step box.
    std::set<QWidget*> focused;
    for (const Qt::Key key : {Qt::Key_Tab, Qt::Key_Backtab}) {
        ui.StepYearsBox->setFocus(Qt::TabFocusReason);
        for (int press = 0; press < 12; ++press) {
            Press(key);
            focused.insert(QApplication::focusWidget());
        }
    }
    for (QWidget* button : std::initializer_list<QWidget*>{ui.InitialiseButton, ui.StepButton, ui.SaveResultsButton,
                                                           ui.ExitButton})
        EXPECT_TRUE(focused.count(button)) << button->objectName().toStdString() << " never had the focus";
}

// What each way of losing the results does, by the years stepped, whether
// they were saved, and the answer to the question.
TEST_F(Keys, AsksBeforeUnsavedResultsAreLost) {
    enum class Command { QuitKey, SpaceOnExit, CloseBox, Initialisation };
    struct Case {
        const char* name;
        int stepped;           // years stepped; 0: the files opened and initialised, nothing stepped
        bool savedFirst;       // Ctrl+S after those years
        int steppedAfterSave;  // more years stepped after that save
        Command command;
        Answer answer;
        bool saveCancelled;    // the save that the answer Save starts is cancelled
        bool asked;
        bool ends;             // the window closed, or the program restarted
    };
    const Case cases[] = {
        {"nothing stepped, Ctrl+Q", 0, false, 0, Command::QuitKey, Answer::Cancel, false, false, true},
        {"30 years, Space on Exit, Cancel", 30, false, 0, Command::SpaceOnExit, Answer::Cancel, false, true, false},
        {"30 years, Space on Exit, Discard", 30, false, 0, Command::SpaceOnExit, Answer::Discard, false, true, true},
        {"30 years, Ctrl+Q, Discard", 30, false, 0, Command::QuitKey, Answer::Discard, false, true, true},
        {"30 years, close box, Save", 30, false, 0, Command::CloseBox, Answer::Save, false, true, true},
        {"30 years, Ctrl+Q, Save but cancelled", 30, false, 0, Command::QuitKey, Answer::Save, true, true, false},
        {"30 years saved, Ctrl+Q", 30, true, 0, Command::QuitKey, Answer::Cancel, false, false, true},
        {"20 saved then 5 more, Ctrl+Q, Cancel", 20, true, 5, Command::QuitKey, Answer::Cancel, false, true, false},
        {"30 years, Initialisation, Cancel", 30, false, 0, Command::Initialisation, Answer::Cancel, false, true, false},
        {"30 years, Initialisation, Discard", 30, false, 0, Command::Initialisation, Answer::Discard, false, true,
         true},
        {"30 years saved, Initialisation", 30, true, 0, Command::Initialisation, Answer::Cancel, false, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KeyedWindow w;
        testing::ScriptedDialogs& dialogs = w.window.dialogs;
        w.OpenAndStep(c.stepped);
        dialogs.answers[FileDialog::SaveResults] = ResultsFile();
        if (c.savedFirst) Press(Qt::Key_S, Qt::ControlModifier);
        if (c.steppedAfterSave > 0) w.Step(c.steppedAfterSave);
        fs::remove(dir / "run.csv");
        if (c.saveCancelled) dialogs.answers.erase(FileDialog::SaveResults);
        dialogs.unsavedAnswer = c.answer;

        switch (c.command) {
        case Command::QuitKey: Press(Qt::Key_Q, Qt::ControlModifier); break;
        case Command::SpaceOnExit:
            w.ui.ExitButton->setFocus(Qt::TabFocusReason);
            Press(Qt::Key_Space);
            break;
        case Command::CloseBox: w.window.form.close(); break;
        case Command::Initialisation: Press(Qt::Key_I, Qt::ControlModifier); break;
        }

        EXPECT_EQ(dialogs.unsavedQuestions.size(), c.asked ? 1 : 0) << dialogs.unsavedQuestions.join('\n').toStdString();
        EXPECT_EQ(w.Ended(), c.ends) << "visible " << w.window.form.isVisible() << ", restarted " << w.window.restart.quit;
        if (c.answer == Answer::Save && c.asked)
            EXPECT_EQ(fs::exists(dir / "run.csv"), !c.saveCancelled) << "the results file";
        EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join('\n').toStdString();
    }
}

}  // namespace
}  // namespace kelmar::ui
