// The commands end to end on the real window, with the file dialogs and
// message boxes answered by the test: both input modes on the example files,
// Initialisation, Steps, Generate file, the four saves, and the errors.
#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QFileInfo>
#include <QTest>
#include <QTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

#include "io/climatology_file.h"
#include "app/presentation/grid_texts.h"
#include "io/site_file.h"
#include "io/value_text.h"
#include "io/weather_file.h"
#include "model/errors.h"
#include "model/model_fixtures.h"
#include "ui/widgets/line_chart.h"
#include "ui/form/main_form.h"
#include "ui/form/main_form_commands.h"
#include "ui/form/program_restart.h"
#include "ui/form/qt_user_dialogs.h"
#include "ui/widgets/string_grid.h"
#include "ui/ui_fixtures.h"

namespace kelmar::ui {
namespace {

namespace fs = std::filesystem;

QString Example(const char* name) { return QString(KELMAR_EXAMPLES_DIR "/") + name; }

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// What a program prints on standard output; the test fails when it cannot
// run (every reader the tests use is installed by scripts/install-deps.sh).
QByteArray ToolBytes(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        ADD_FAILURE() << program.toStdString() << " failed: " << process.errorString().toStdString() << "\n"
                      << process.readAllStandardError().toStdString();
        return {};
    }
    return process.readAllStandardOutput();
}

QString ToolOutput(const QString& program, const QStringList& arguments) {
    return QString::fromUtf8(ToolBytes(program, arguments));
}

class Workflow : public ::testing::Test {
protected:
    std::unique_ptr<TModel> model = [] {
        auto m = std::make_unique<TModel>();
        m->Settings.InpDat = true;  // the program starts on "Weather from file"
        m->Random.SetState(1961);
        return m;
    }();
    testing::CommandedWindow window{*model};
    TMainForm& form = window.form;
    const Session& session = form.AppSession();
    testing::ScriptedDialogs& dialogs = window.dialogs;
    testing::RecordingRestart& restart = window.restart;
    const TMainFormControls& ui = form.Controls();
    fs::path dir = fs::temp_directory_path() / ("kelmar-workflow-" + std::to_string(QCoreApplication::applicationPid()));
    QString startFolder = QDir::currentPath();

    void SetUp() override {
        fs::create_directories(dir);
        dialogs.answers[FileDialog::SiteForRun] = Example("soil.sit");
        dialogs.answers[FileDialog::WeatherForRun] = Example("weather.wed");
        dialogs.answers[FileDialog::ClimatologyForGaps] = Example("climat.cld");
        dialogs.answers[FileDialog::ClimatologyForSimulation] = Example("climat.cld");
    }
    void TearDown() override {
        QDir::setCurrent(startFolder);
        fs::remove_all(dir);
    }

    void Click(QAbstractButton* button) { button->click(); }
    void Step(int years) {
        ui.StepYearsBox->setText(QString::number(years));
        Click(ui.StepButton);
    }
    QString Saved(const char* name) const { return QString::fromStdString((dir / name).string()); }

    // Enabled controls and the chart's visibility, as a row of 1 and 0 in the
    // order OpenObservedFilesButton OpenSimulatedFilesButton "Weather from file" "Simulated weather"
    // GenerateClimatologyButton SaveClimatologyButton SaveSiteButton ExitButton InitialiseButton StepButton
    // StepYearsBox StepSlider StepLabel SaveResultsButton SaveWeatherButton ChartViewBox ChartViewLabel Chart.
    std::string State() const {
        const QWidget* controls[] = {ui.OpenObservedFilesButton,
                                     ui.OpenSimulatedFilesButton,
                                     ui.ObservedWeatherButton,
                                     ui.SimulatedWeatherButton,
                                     ui.GenerateClimatologyButton,
                                     ui.SaveClimatologyButton,
                                     ui.SaveSiteButton,
                                     ui.ExitButton,
                                     ui.InitialiseButton,
                                     ui.StepButton,
                                     ui.StepYearsBox,
                                     ui.StepSlider,
                                     ui.StepLabel,
                                     ui.SaveResultsButton,
                                     ui.SaveWeatherButton,
                                     ui.ChartViewBox,
                                     ui.ChartViewLabel};
        std::string row;
        for (const QWidget* control : controls) row += control->isEnabled() ? '1' : '0';
        return row + (ui.Chart->isVisibleTo(&form) ? '1' : '0');
    }
};

TEST_F(Workflow, WeatherFromFileWalkthrough) {
    EXPECT_EQ(State(), "101111110000000000") << "Start, weather from file";
    EXPECT_EQ(ui.YearCountLabel->text(), "    0 years");

    // The person works in a folder of their own; the example files are elsewhere.
    const QString workFolder = QString::fromStdString(dir.string());
    QDir::setCurrent(workFolder);
    Click(ui.OpenObservedFilesButton);
    ASSERT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("\n").toStdString();
    ASSERT_EQ(dialogs.asked.size(), 3u);  // the record has soil-temperature gaps
    EXPECT_STREQ(dialogs.asked[0]->title, "\u041e\u0442\u043a\u0440\u044b\u0442\u044c \u0444\u0430\u0439\u043b");
    EXPECT_STREQ(dialogs.asked[0]->proposedName, "soil.sit");
    EXPECT_STREQ(dialogs.asked[1]->filter, "WED files|*.wed");
    EXPECT_STREQ(dialogs.asked[2]->title, "Load file");
    EXPECT_EQ(ui.FileSummaryLabel->text(), "There are 30 years in \"weather.wed\"");
    EXPECT_EQ(ui.YearCountLabel->text(), "    0 years");
    EXPECT_EQ(ui.InputWeatherGrid->RowCount(), 361);
    EXPECT_TRUE((ui.ClimatologyGrid->ColWidth(12) == -1));  // no residual soil deviation with observed weather
    // The current folder stays where the person works (chart pictures go
    // there); each dialog starts in the folder of the file chosen before it.
    EXPECT_EQ(QDir::currentPath(), QDir(workFolder).absolutePath());
    EXPECT_EQ(dialogs.folders, (QStringList{workFolder, KELMAR_EXAMPLES_DIR, KELMAR_EXAMPLES_DIR}));
    EXPECT_EQ(State(), "001001111000001000") << "Ran after weather from file";

    Click(ui.InitialiseButton);
    EXPECT_EQ(ui.StepSlider->maximum(), 30);
    EXPECT_EQ(State(), "001001111111101000") << "Ready";

    Step(25);
    EXPECT_EQ(session.ReleasedYears(), 25);
    EXPECT_EQ(ui.YearCountLabel->text(), "    25 years");
    EXPECT_EQ(ui.ResultsGrid->RowCount(), 301);
    EXPECT_EQ(ui.ChartViewBox->count(), 15);
    EXPECT_TRUE(ui.NoticeLabel->text().isEmpty());
    EXPECT_EQ(State(), "001001111111111111") << "Showing";

    Click(ui.StepButton);  // 25 more asked, 5 left
    EXPECT_EQ(ui.StepYearsBox->text(), "5");
    EXPECT_EQ(ui.StepSlider->value(), 5);
    EXPECT_EQ(ui.NoticeLabel->text(), "The calculation was made for the whole input data");
    EXPECT_EQ(ui.YearCountLabel->text(), "    30 years");
    EXPECT_EQ(session.ReleasedYears(), 30);
    EXPECT_EQ(ui.ResultsGrid->RowCount(), 361);

    Click(ui.StepButton);  // nothing left
    EXPECT_EQ(ui.StepYearsBox->text(), "0");
    EXPECT_EQ(session.ReleasedYears(), 30);
    EXPECT_EQ(ui.ChartViewBox->count(), 15);
    Click(ui.StepButton);  // a box of 0 with nothing left: nothing to refuse
    EXPECT_TRUE(dialogs.errors.isEmpty());

    // One message at a time: a later status replaces the notice.
    dialogs.answers[FileDialog::SaveResults] = Saved("results.txt");
    Click(ui.SaveResultsButton);
    EXPECT_TRUE(ui.StatusMessage->text().startsWith("Results saved to ")) << ui.StatusMessage->text().toStdString();
    EXPECT_TRUE(ui.NoticeLabel->text().isEmpty()) << ui.NoticeLabel->text().toStdString();
}

TEST_F(Workflow, SimulatedWeatherShowsFiveHundredYearsInOneStep) {
    ui.SimulatedWeatherButton->click();
    EXPECT_FALSE(model->Settings.InpDat);
    EXPECT_EQ(State(), "011111110000000000") << "Start, simulated weather";

    Click(ui.OpenSimulatedFilesButton);
    ASSERT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("\n").toStdString();
    EXPECT_STREQ(dialogs.asked[1]->title, "Load weather file");
    EXPECT_EQ(model->AvailableYears, 500);
    EXPECT_FALSE((ui.ClimatologyGrid->ColWidth(12) == -1));
    EXPECT_EQ(State(), "000101111000000000") << "Ran after simulated weather";
    EXPECT_EQ(ui.FileSummaryLabel->text(),
              "Simulated 500 years of weather from \"climat.cld\"; Initialisation and Step show them");

    Click(ui.InitialiseButton);
    EXPECT_EQ(ui.StepSlider->maximum(), 500);
    Step(500);
    EXPECT_EQ(session.ReleasedYears(), 500);
    EXPECT_EQ(ui.ResultsGrid->RowCount(), 6001);
    EXPECT_EQ(ui.InputWeatherGrid->RowCount(), 6001);
    EXPECT_TRUE(ui.NoticeLabel->text().isEmpty());  // no notice with simulated weather
    EXPECT_EQ(State(), "000101111111111111") << "Showing, simulated weather";
}

TEST_F(Workflow, StepBoxRules) {
    Click(ui.OpenObservedFilesButton);
    Click(ui.InitialiseButton);
    ui.StepYearsBox->setText("45");  // above the 30 years of the record
    EXPECT_EQ(ui.StepYearsBox->text(), "30");
    EXPECT_EQ(ui.StepSlider->value(), 30);
    ui.StepSlider->setValue(7);
    EXPECT_EQ(ui.StepYearsBox->text(), "7");

    // What is no whole number of years is refused as typed, never changed
    // into another number ("2.5" used to become 25, "-5" 5, and 0 was taken).
    const struct {
        const char* typed;
        const char* refusal;
    } refused[] = {
        {"2.5", "''2.5'' is not a valid integer value"},
        {"-5", "A Step takes a whole number of years from 1 to 30, not -5."},
        {"0", "A Step takes a whole number of years from 1 to 30, not 0."},
        {"1e2", "''1e2'' is not a valid integer value"},
    };
    for (const auto& c : refused) {
        ui.StepYearsBox->selectAll();
        QTest::keyClicks(ui.StepYearsBox, c.typed);
        EXPECT_EQ(ui.StepYearsBox->text(), c.typed);
        dialogs.errors.clear();
        Click(ui.StepButton);
        ASSERT_EQ(dialogs.errors.size(), 1) << c.typed;
        EXPECT_EQ(dialogs.errors[0], c.refusal);
        EXPECT_EQ(session.ReleasedYears(), 0) << c.typed;
        EXPECT_FALSE(ui.Chart->isVisibleTo(&form));
    }
    dialogs.errors.clear();

    ui.StepYearsBox->setText("");
    Click(ui.StepButton);
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_EQ(dialogs.errors[0], "'''' is not a valid integer value");
    EXPECT_EQ(session.ReleasedYears(), 0);
}

TEST_F(Workflow, InitialisationRestartsOnlyAfterAStep) {
    Click(ui.OpenObservedFilesButton);
    Click(ui.InitialiseButton);
    Click(ui.InitialiseButton);
    EXPECT_FALSE(restart.quit);
    EXPECT_EQ(State(), "001001111111101000") << "still Ready";

    Step(1);
    restart.startFails = true;  // the program stays when no new copy could start
    Click(ui.InitialiseButton);
    EXPECT_FALSE(restart.quit);
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors[0].startsWith("Cannot start a new copy of the program")) << dialogs.errors[0].toStdString();

    restart.startFails = false;
    Click(ui.InitialiseButton);
    EXPECT_EQ(restart.started, QCoreApplication::applicationFilePath());
    EXPECT_TRUE(restart.quit);
}

TEST_F(Workflow, ChartMenuSavesPicturesAndPrints) {
    Click(ui.OpenObservedFilesButton);
    Click(ui.InitialiseButton);
    Step(3);
    form.resize(1000, 600);
    form.show();
    QDir::setCurrent(QString::fromStdString(dir.string()));
    QMenu& menu = *ui.Chart->ContextMenu();
    const QRegularExpression stamp(R"(^\d\d\.\d\d\.\d{4}_\d\d\.\d\d\.\d\d\.(bmp|wmf|png|svg|pdf)$)");

    const struct {
        const char* action;
        const char* extension;
        std::string magic;
    } pictures[] = {{"SaveAsBitmapAction", ".bmp", "BM"},
                    {"SaveAsMetafileAction", ".wmf", "\xD7\xCD\xC6\x9A"},
                    {"SaveAsPngAction", ".png", "\x89PNG\r\n"},
                    {"SaveAsSvgAction", ".svg", "<?xml"},
                    {"SaveAsPdfAction", ".pdf", "%PDF-"}};
    dialogs.acceptPictureProposal = true;
    for (const auto& picture : pictures) {
        dialogs.informations.clear();
        dialogs.pictureFilters.clear();
        menu.findChild<QAction*>(picture.action)->trigger();
        ASSERT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("\n").toStdString();
        // The dialog offers only files of the picture's kind.
        ASSERT_EQ(dialogs.pictureFilters.size(), 1) << picture.action;
        EXPECT_TRUE(dialogs.pictureFilters[0].endsWith(QString("(*") + picture.extension + ")"))
            << picture.action << ": " << dialogs.pictureFilters[0].toStdString();
        const QStringList written = QDir().entryList({QString("*") + picture.extension}, QDir::Files);
        ASSERT_EQ(written.size(), 1) << picture.action;
        EXPECT_TRUE(stamp.match(written[0]).hasMatch()) << written[0].toStdString();
        EXPECT_TRUE(dialogs.informations.isEmpty());
        EXPECT_EQ(ui.StatusMessage->text(), "File \"" + QDir().absoluteFilePath(written[0]) + "\" saved.");
        EXPECT_EQ(ReadBytes(dir / written[0].toStdString()).substr(0, picture.magic.size()), picture.magic);
    }

    // Readers that share no code with the window: each file shows the chart's
    // title and the titles of the series in its legend.
    const auto written = [](const char* extension) {
        return QDir().absoluteFilePath(QDir().entryList({QString("*") + extension}, QDir::Files).value(0));
    };
    const QStringList titles = {"Input weather (Month by month)", "Tair, \u00b0C", "Tsoil, \u00b0C", "Prec"};
    const QString pdfText = ToolOutput("pdftotext", {"-layout", written(".pdf"), "-"});
    const QString svgText = ToolOutput("python3", {"-c",
                                                   "import sys, xml.etree.ElementTree as t\n"
                                                   "print('\\n'.join(''.join(e.itertext()) for e in t.parse(sys.argv[1]).iter()"
                                                   " if e.tag.endswith('}text')))",
                                                   written(".svg")});
    for (const QString& title : titles) {
        EXPECT_TRUE(pdfText.contains(title)) << "PDF lacks " << title.toStdString() << ":\n" << pdfText.toStdString();
        EXPECT_TRUE(svgText.contains(title)) << "SVG lacks " << title.toStdString() << ":\n" << svgText.toStdString();
    }
    // The PNG, decoded by ImageMagick, is what the chart shows, titles and all.
    const QImage shown = ui.Chart->grab().toImage().convertToFormat(QImage::Format_RGB888);
    const QByteArray decoded = ToolBytes("convert", {written(".png"), "-depth", "8", "rgb:-"});
    ASSERT_EQ(decoded.size(), qsizetype(shown.width()) * shown.height() * 3) << "PNG of another size than the chart";
    int differing = 0;
    for (int y = 0; y < shown.height(); ++y)
        differing += std::memcmp(shown.constScanLine(y), decoded.constData() + qsizetype(y) * shown.width() * 3,
                                 std::size_t(shown.width()) * 3) != 0;
    EXPECT_EQ(differing, 0) << "rows of the PNG that differ from the chart on screen";

    const QString pdf = Saved("chart.pdf");
    window.commands.SetPrinterSource([pdf] {
        auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(pdf);
        return printer;
    });
    dialogs.informations.clear();
    menu.findChild<QAction*>("PrintAction")->trigger();
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("\n").toStdString();
    EXPECT_TRUE(dialogs.informations.isEmpty());  // printing confirms nothing
    EXPECT_EQ(ReadBytes(pdf.toStdString()).substr(0, 5), "%PDF-");

    window.commands.SetPrinterSource([]() -> std::unique_ptr<QPrinter> {
        throw KelmarError("The chart cannot be printed: no printer is installed.");
    });
    menu.findChild<QAction*>("PrintAction")->trigger();
    EXPECT_EQ(dialogs.errors, QStringList{"The chart cannot be printed: no printer is installed."});
}

// A picture goes where the user names it, also when the program was started
// in a folder it cannot write; the next dialog starts where the last picture went.
TEST_F(Workflow, ChartPictureGoesWhereTheDialogSays) {
    Click(ui.OpenObservedFilesButton);
    Click(ui.InitialiseButton);
    Step(3);
    form.resize(800, 500);
    form.show();
    const fs::path readOnly = dir / "read-only";
    const fs::path chosen = dir / "pictures.d";  // a full stop in a folder is no extension
    fs::create_directories(readOnly);
    fs::create_directories(chosen);
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::owner_exec);
    QDir::setCurrent(QString::fromStdString(readOnly.string()));
    QAction& savePng = *ui.Chart->ContextMenu()->findChild<QAction*>("SaveAsPngAction");
    const QString chosenFolder = QString::fromStdString(chosen.string());
    const QString startFolder = QString::fromStdString(readOnly.string());

    const struct {
        std::optional<QString> answer;  // nothing: cancelled
        QString proposedFolder;         // where the dialog starts
        QString written;                // empty: nothing written
    } cases[] = {
        {std::nullopt, startFolder, {}},
        {chosenFolder + "/chart", startFolder, chosenFolder + "/chart.png"},
        {chosenFolder + "/chart.v2.png", chosenFolder, chosenFolder + "/chart.v2.png"},
        {std::nullopt, chosenFolder, {}},
    };
    for (const auto& c : cases) {
        const QString answer = c.answer.value_or("(cancel)");
        dialogs.pictureAnswer = c.answer;
        dialogs.pictureProposals.clear();
        ui.StatusMessage->clear();
        savePng.trigger();
        EXPECT_TRUE(dialogs.errors.isEmpty()) << answer.toStdString() << ": " << dialogs.errors.join("\n").toStdString();
        ASSERT_EQ(dialogs.pictureProposals.size(), 1) << answer.toStdString();
        const QFileInfo proposed(dialogs.pictureProposals[0]);
        EXPECT_EQ(proposed.absolutePath(), c.proposedFolder) << answer.toStdString();
        EXPECT_TRUE(proposed.fileName().endsWith(".png")) << proposed.fileName().toStdString();
        if (c.written.isEmpty()) {
            EXPECT_EQ(ui.StatusMessage->text(), "") << answer.toStdString();
        } else {
            EXPECT_EQ(ReadBytes(c.written.toStdString()).substr(0, 4), "\x89PNG") << c.written.toStdString();
            EXPECT_EQ(ui.StatusMessage->text(), "File \"" + c.written + "\" saved.") << answer.toStdString();
        }
    }
    EXPECT_TRUE(QDir(startFolder).isEmpty());
    fs::permissions(readOnly, fs::perms::owner_all);
}

TEST(ProgramRestart, StartsADetachedProcess) {
    QtProgramRestart restart;
    EXPECT_TRUE(restart.StartDetached("/bin/true"));
    EXPECT_FALSE(restart.StartDetached("/nonexistent/kelmar"));
}

// The real file dialogs: title, filter, starting folder and proposed name as
// each command sets them, and what a command does not set stays as the last
// use of the same dialog left it.
TEST(QtFileDialogs, ProposeTheirNamesAndRememberTheRest) {
    QWidget parent;
    QtUserDialogs dialogs(&parent);
    struct Seen {
        QString title, filter, folder, file, suffix;
    };
    std::vector<Seen> seen;
    // Answers the next file dialog once it is on screen.
    const auto answer = [&seen](bool accept) {
        auto* poll = new QTimer;
        poll->setInterval(5);
        QObject::connect(poll, &QTimer::timeout, [&seen, accept, poll] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr || !dialog->isVisible()) return;
            poll->stop();
            poll->deleteLater();
            // The name as the person sees it proposed: the dialog's name box.
            const auto* nameBox = dialog->findChild<QLineEdit*>("fileNameEdit");
            seen.push_back({dialog->windowTitle(), dialog->nameFilters().join(";;"), dialog->directory().absolutePath(),
                            nameBox ? nameBox->text() : QString("(no name box)"), dialog->defaultSuffix()});
            QDialog* shown = dialog;  // accept() is public on QDialog
            accept ? shown->accept() : shown->reject();
        });
        poll->start();
    };
    // An open dialog accepts only a file that exists.
    const fs::path dir = fs::temp_directory_path() / ("kelmar-dialogs-" + std::to_string(QCoreApplication::applicationPid()));
    fs::create_directories(dir);
    std::ofstream(dir / "soil.sit") << "VAR VALUE";
    const QString folder = QString::fromStdString(dir.string());

    answer(true);
    const auto site = dialogs.AskFile(DialogSpec(FileDialog::SiteForRun), folder);
    answer(false);
    EXPECT_FALSE(dialogs.AskFile(DialogSpec(FileDialog::ClimatologyForSimulation), folder));
    answer(true);
    const auto results = dialogs.AskFile(DialogSpec(FileDialog::SaveResults), folder);
    answer(false);
    dialogs.AskFile(DialogSpec(FileDialog::SaveSite), folder);
    answer(false);
    dialogs.AskFile(DialogSpec(FileDialog::SaveWeather), folder);

    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[0].title, "\u041e\u0442\u043a\u0440\u044b\u0442\u044c \u0444\u0430\u0439\u043b");
    EXPECT_EQ(seen[0].filter, "sit files (*.sit)");
    EXPECT_EQ(seen[0].folder, QDir(folder).absolutePath());
    EXPECT_EQ(seen[0].file, "soil.sit");
    ASSERT_TRUE(site);
    EXPECT_EQ(QFileInfo(*site).fileName(), "soil.sit");
    EXPECT_EQ(seen[1].title, "Load weather file");
    EXPECT_EQ(seen[1].file, "climat.cld");
    EXPECT_EQ(seen[2].title, "Save results");
    EXPECT_EQ(seen[2].suffix, "csv");
    ASSERT_TRUE(results);
    EXPECT_EQ(QFileInfo(*results).fileName(), "results.csv");  // the default extension is added
    // The site save proposes no name of its own: it offers the site file
    // read (it used to offer the results' name, "results.sit"); the weather
    // save, with no weather file read or saved, offers none (it offered
    // another kind's name).
    EXPECT_EQ(seen[3].title, "Save soil parameters");
    EXPECT_EQ(seen[3].file, "soil.sit");
    EXPECT_EQ(seen[3].suffix, "sit");
    EXPECT_EQ(seen[4].title, "Save weather data");
    EXPECT_EQ(seen[4].file, "");
    fs::remove_all(dir);
}

// Saving over an existing file asks first; "No" leaves the file and the
// dialog open (a file used to be replaced without a word).
TEST(QtFileDialogs, AskBeforeReplacingAFile) {
    const fs::path dir = fs::temp_directory_path() / ("kelmar-replace-" + std::to_string(QCoreApplication::applicationPid()));
    fs::create_directories(dir);
    std::ofstream(dir / "mysite.sit") << "precious";
    const QString folder = QString::fromStdString(dir.string());
    QWidget parent;
    QtUserDialogs dialogs(&parent);

    for (const bool replace : {false, true}) {
        QString question;
        auto* poll = new QTimer;
        poll->setInterval(5);
        QObject::connect(poll, &QTimer::timeout, [&question, replace, poll] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal); box && box->isVisible()) {
                question = box->text();
                box->button(replace ? QMessageBox::Yes : QMessageBox::No)->click();
                return;
            }
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            if (dialog == nullptr || !dialog->isVisible()) return;
            if (!question.isEmpty()) {  // "No": the dialog is still open
                if (!dialog->property("kelmarAccepting").toBool()) dialog->reject();
                return;
            }
            if (dialog->property("kelmarAccepting").toBool()) return;
            dialog->setProperty("kelmarAccepting", true);
            dialog->findChild<QLineEdit*>("fileNameEdit")->setText("mysite.sit");  // as typed
            // Accepted from its own event, not from this timer's: the
            // question's event loop must let this timer answer it.
            QTimer::singleShot(0, dialog, [dialog] {
                QDialog* shown = dialog;  // accept() is public on QDialog
                shown->accept();
                dialog->setProperty("kelmarAccepting", false);
            });
        });
        poll->start();
        const auto chosen = dialogs.AskFile(DialogSpec(FileDialog::SaveSite), folder);
        poll->stop();
        poll->deleteLater();
        EXPECT_TRUE(question.contains("mysite.sit")) << "no question before replacing: " << question.toStdString();
        EXPECT_EQ(chosen.has_value(), replace) << (replace ? "Yes" : "No");
    }
    fs::remove_all(dir);
}

// A person types a name into the real open dialog and presses Enter: any
// name comes back, existing or not (the readers add their extension and
// report a missing file), and the name box's suggestion list, opened while
// typing, closes with the dialog instead of staying over the window.
TEST(QtFileDialogs, ReturnTypedNamesAndLeaveNoPopupBehind) {
    const fs::path dir = fs::temp_directory_path() / ("kelmar-typed-" + std::to_string(QCoreApplication::applicationPid()));
    fs::create_directories(dir);
    for (const char* name : {"soil.sit", "soil2.sit", "weather.wed", "weather2.wed"}) std::ofstream(dir / name) << "#";
    const QString folder = QString::fromStdString(dir.string());
    QWidget parent;
    parent.resize(400, 300);
    parent.show();
    QtUserDialogs dialogs(&parent);

    struct Case {
        FileDialog dialog;
        const char* typed;
        const char* returned;
    };
    const Case cases[] = {
        {FileDialog::SiteForRun, "mysite", "mysite"},                 // no full stop: the reader appends ".sit"
        {FileDialog::WeatherForRun, "nothere.wed", "nothere.wed"},    // missing: the reader warns
        {FileDialog::WeatherForEstimate, "records", "records"},       // "All files": any name
        {FileDialog::SiteForRun, "soil2.sit", "soil2.sit"},           // an existing file, suggested while typed
    };
    for (const Case& c : cases) {
        bool typed = false;
        auto* poll = new QTimer;
        poll->setInterval(5);
        QObject::connect(poll, &QTimer::timeout, [&typed, &c, &folder, poll] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr || !dialog->isVisible()) return;
            poll->stop();
            poll->deleteLater();
            auto* nameBox = dialog->findChild<QLineEdit*>("fileNameEdit");
            ASSERT_NE(nameBox, nullptr);
            // The person types once the folder is listed: the listing selects
            // the folder or the proposed file, and the typed name must still win.
            auto* files = dialog->findChild<QFileSystemModel*>();
            ASSERT_NE(files, nullptr);
            ASSERT_TRUE(QTest::qWaitFor([files, &folder] { return files->rowCount(files->index(folder)) > 0; }, 10000));
            // Typing goes to the focused name box, as on screen.
            QApplication::setActiveWindow(dialog);
            nameBox->setFocus(Qt::OtherFocusReason);
            ASSERT_TRUE(QTest::qWaitFor([nameBox] { return nameBox->hasFocus(); }));
            nameBox->clear();
            QTest::keyClicks(nameBox, c.typed);
            QTest::qWait(50);  // the suggestion list opens
            typed = true;
            QTest::keyClick(nameBox, Qt::Key_Return);
        });
        // A dialog that refused the name is still open, perhaps under a box
        // of its own: close them so that the test reports the refusal
        // instead of waiting for ever.
        QTimer guard;
        guard.setInterval(300);
        QObject::connect(&guard, &QTimer::timeout, [&typed] {
            if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget()); modal && typed) modal->reject();
        });
        guard.start();
        poll->start();
        const auto chosen = dialogs.AskFile(DialogSpec(c.dialog), folder);
        ASSERT_TRUE(typed) << c.typed;
        guard.stop();
        EXPECT_EQ(chosen.value_or("(refused)").toStdString(), QDir(folder).filePath(c.returned).toStdString())
            << "typed " << c.typed;
        QApplication::processEvents();
        for (QWidget* window : QApplication::topLevelWidgets())
            if (window->isVisible() && window != &parent) {
                ADD_FAILURE() << "typed " << c.typed << ": " << window->metaObject()->className()
                              << " still on screen after the dialog closed";
                window->close();  // so that the next case starts clean
            }
    }
    fs::remove_all(dir);
}

TEST(FileDialogFilters, PairsOfDescriptionAndPattern) {
    EXPECT_EQ(NameFilters("sit files|*.sit"), QStringList{"sit files (*.sit)"});
    // "*.*" would hide names without a full stop outside Windows.
    EXPECT_EQ(NameFilters("wed files|*.wed|All files|*.*"), (QStringList{"wed files (*.wed)", "All files (*)"}));
}

TEST_F(Workflow, GenerateThenSaveAndReopenTheClimatology) {
    dialogs.answers[FileDialog::WeatherForEstimate] = Example("weather.wed");
    dialogs.answers[FileDialog::SaveClimatology] = Saved("estimated.cld");
    Click(ui.GenerateClimatologyButton);
    ASSERT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("\n").toStdString();
    EXPECT_EQ(ui.ClimatologyGrid->Cell(1, 7), FormatValue(model->Climate.av_Ta[7]));
    EXPECT_EQ(State(), "101111110000000000") << "Generate file changes no command";
    EXPECT_EQ(ui.StatusMessage->text(), "Estimated a climatology from 30 years of weather; it is on the Climatology "
                                        "page, where Save file writes it");

    Click(ui.SaveClimatologyButton);
    auto reread = std::make_unique<TModel>();
    testing::RecordingNotifier notifier;
    ASSERT_TRUE(ReadClimatologyFile(*reread, (dir / "estimated.cld").string(), notifier));
    for (int m = 1; m <= 12; ++m) {
        EXPECT_NEAR(reread->Climate.av_Ta[m], model->Climate.av_Ta[m], 0.005) << "month " << m;
        EXPECT_NEAR(reread->Climate.Bsa[m], model->Climate.Bsa[m], 0.005) << "month " << m;
    }
}

TEST_F(Workflow, SaveCommandsWriteWhatTheReadersReadBack) {
    Click(ui.OpenObservedFilesButton);
    Click(ui.InitialiseButton);
    Step(3);

    std::ofstream(dir / "results.csv") << "older";
    std::ofstream(dir / "results1.csv") << "older";
    dialogs.answers[FileDialog::SaveResults] = Saved("results");
    Click(ui.SaveResultsButton);
    const std::string results = ReadBytes(dir / "results12.csv");
    EXPECT_EQ(std::count(results.begin(), results.end(), '\n'), 37);
    EXPECT_EQ(ReadBytes(dir / "results.csv"), "older");
    // The renamed file is named where the person looks.
    EXPECT_EQ(ui.StatusMessage->text(), "Results saved to " + Saved("results12.csv"));

    dialogs.answers[FileDialog::SaveWeather] = Saved("weather.wed");
    dialogs.answers[FileDialog::SaveSite] = Saved("site.sit");
    Click(ui.SaveWeatherButton);
    EXPECT_EQ(ui.StatusMessage->text(), "Weather data saved to " + Saved("weather.wed"));
    Click(ui.SaveSiteButton);
    EXPECT_EQ(ui.StatusMessage->text(), "Site parameters saved to " + Saved("site.sit"));
    ASSERT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("\n").toStdString();

    auto reread = std::make_unique<TModel>();
    testing::RecordingNotifier notifier;
    ASSERT_TRUE(ReadWeatherFile(*reread, (dir / "weather.wed").string(), notifier));
    EXPECT_EQ(reread->Settings.YearBeg, 1961);
    EXPECT_EQ(reread->Settings.YearEnd, 1990);
    // The saved record has its soil-temperature gaps filled as the run filled them.
    for (int i = 1; i <= 30; ++i)
        for (int m = 1; m <= 12; ++m)
            ASSERT_NEAR(reread->Weather.Tsoil[i][m], model->Results.At(i, m).Tsoil, 0.005) << i << "/" << m;
    ASSERT_TRUE(ReadSiteFile(*reread, (dir / "site.sit").string(), notifier));
    EXPECT_NEAR(reread->Site.Lat, model->Site.Lat, 0.005);
    EXPECT_EQ(reread->Site.Fortype, model->Site.Fortype);
}

// The saves of the window may edit the site file and the climatology the run
// read, but not lose the weather record or put one kind of file over another.
TEST_F(Workflow, SavesRefuseToLoseTheFilesTheRunRead) {
    for (const char* name : {"soil.sit", "weather.wed", "climat.cld"})
        fs::copy_file(Example(name).toStdString(), dir / name);
    dialogs.answers[FileDialog::SiteForRun] = Saved("soil.sit");
    dialogs.answers[FileDialog::WeatherForRun] = Saved("weather");  // read as weather.wed
    dialogs.answers[FileDialog::ClimatologyForGaps] = Saved("climat.cld");
    Click(ui.OpenObservedFilesButton);
    ASSERT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("\n").toStdString();
    const std::string record = ReadBytes(dir / "weather.wed"), climate = ReadBytes(dir / "climat.cld");

    dialogs.answers[FileDialog::SaveWeather] = Saved("weather.wed");
    Click(ui.SaveWeatherButton);
    dialogs.answers[FileDialog::SaveSite] = Saved("climat.cld");
    Click(ui.SaveSiteButton);
    ASSERT_EQ(dialogs.errors.size(), 2);
    EXPECT_TRUE(dialogs.errors[0].contains("\"" + Saved("weather.wed") + "\" is the weather record the run read"))
        << dialogs.errors[0].toStdString();
    EXPECT_TRUE(dialogs.errors[1].contains("\"" + Saved("climat.cld") + "\" is the climatology file the run read"))
        << dialogs.errors[1].toStdString();
    EXPECT_EQ(ReadBytes(dir / "weather.wed"), record);
    EXPECT_EQ(ReadBytes(dir / "climat.cld"), climate);

    // An edited site saved over the site file read, as the grid shows it.
    ui.SiteGrid->SetCell(1, 0, "62.50");
    dialogs.answers[FileDialog::SaveSite] = Saved("soil.sit");
    Click(ui.SaveSiteButton);
    dialogs.answers[FileDialog::SaveClimatology] = Saved("climat.cld");
    Click(ui.SaveClimatologyButton);
    EXPECT_EQ(dialogs.errors.size(), 2);
    EXPECT_NE(ReadBytes(dir / "soil.sit").find("\r\nLat,62.50\r\n"), std::string::npos);
    EXPECT_EQ(ReadBytes(dir / "climat.cld"), climate);  // the grid shows what was read
}

TEST_F(Workflow, MissingAndMalformedFilesAreReported) {
    dialogs.answers[FileDialog::SiteForRun] = Saved("absent.sit");
    Click(ui.OpenObservedFilesButton);
    ASSERT_EQ(dialogs.warnings.size(), 1);
    EXPECT_EQ(dialogs.warnings[0], "File soil parameters (" + Saved("absent.sit") + ") not found.");
    EXPECT_EQ(State(), "101111110000000000") << "still Start";

    std::ofstream(dir / "bad.cld", std::ios::binary) << "VAR VALUE\r\n#\r\nav_Ta,abc";
    ui.SimulatedWeatherButton->click();
    dialogs.answers[FileDialog::SiteForRun] = Example("soil.sit");
    dialogs.answers[FileDialog::ClimatologyForSimulation] = Saved("bad.cld");
    Click(ui.OpenSimulatedFilesButton);
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_EQ(dialogs.errors[0], "'abc' is not a valid floating point value\nin \"" + Saved("bad.cld") + "\", line 3");
    EXPECT_NEAR(model->Site.Lat, 61.8, 1e-12);  // the site read before the error stays
    EXPECT_EQ(ui.SiteGrid->Cell(1, 0), "61.80");
    EXPECT_EQ(State(), "011111110000000000") << "still Start";

    // A cancelled dialog ends a command quietly.
    dialogs.answers.clear();
    Click(ui.OpenSimulatedFilesButton);
    EXPECT_EQ(dialogs.errors.size(), 1);
    EXPECT_EQ(dialogs.warnings.size(), 1);
}

// A run refused because its result would be wrong shows the reason, leaves
// the window at Start with nothing of the run to show, and may be retried.
TEST_F(Workflow, ARefusedRunLeavesTheWindowAtStart) {
    std::string weather = ReadBytes(KELMAR_EXAMPLES_DIR "/weather.wed");
    const auto june = weather.find("\n1970,6,");
    weather.erase(june, weather.find('\n', june + 1) - june);
    std::ofstream(dir / "gap.wed", std::ios::binary) << weather;
    std::string climate = ReadBytes(KELMAR_EXAMPLES_DIR "/climat.cld");
    climate.replace(climate.find("Baa,0.25"), 8, "Baa,-99.90");
    std::ofstream(dir / "short.cld", std::ios::binary) << climate;

    dialogs.answers[FileDialog::WeatherForRun] = Saved("gap.wed");
    Click(ui.OpenObservedFilesButton);
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors[0].startsWith(
        "The weather record \"gap.wed\" has no air temperature or precipitation for 6.1970 (1 month in all)"))
        << dialogs.errors[0].toStdString();
    EXPECT_EQ(State(), "101111110000000000") << "still Start";
    EXPECT_EQ(ui.FileSummaryLabel->text(), "");
    EXPECT_EQ(model->AvailableYears, 0);

    ui.SimulatedWeatherButton->click();
    dialogs.answers[FileDialog::ClimatologyForSimulation] = Saved("short.cld");
    Click(ui.OpenSimulatedFilesButton);
    ASSERT_EQ(dialogs.errors.size(), 2);
    EXPECT_TRUE(dialogs.errors[1].startsWith("The climatology file \"short.cld\" has no Baa (regression coefficient) "
                                             "for January"))
        << dialogs.errors[1].toStdString();
    EXPECT_EQ(State(), "011111110000000000") << "still Start";
    EXPECT_EQ(model->Results.At(1, 1).Year, 0);

    dialogs.answers[FileDialog::ClimatologyForSimulation] = Example("climat.cld");
    Click(ui.OpenSimulatedFilesButton);
    EXPECT_EQ(dialogs.errors.size(), 2);
    EXPECT_EQ(model->AvailableYears, 500) << "the retry ran";
}

// An error after the run (here a climatology that cannot be read) abandons
// the command, but the run happened: the status panel counts its years and
// names its random state as after any run.
TEST_F(Workflow, AnOpenCommandAbandonedAfterItsRunStillShowsTheRun) {
    std::ofstream(dir / "bad.cld", std::ios::binary) << "VAR VALUE\r\n#\r\nav_Ta,abc";
    dialogs.answers[FileDialog::ClimatologyForGaps] = Saved("bad.cld");
    Click(ui.OpenObservedFilesButton);
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors[0].startsWith("'abc' is not a valid floating point value")) << dialogs.errors[0].toStdString();
    EXPECT_EQ(ui.YearCountLabel->text(), "    0 years");
    EXPECT_EQ(ui.RandomStateLabel->text(), "Random state 1961");
    EXPECT_EQ(State(), "101111110000000000") << "still Start";
}

// A record without soil temperatures and no climatology to fill them: the
// run goes ahead with 0 in every month, and says so.
TEST_F(Workflow, SoilTemperaturesFilledWithZerosAreReported) {
    std::ofstream weather(dir / "nosoil.wed", std::ios::binary);
    weather << "#\r\nYear,Month,Tair,Prec,Tsoil";
    for (int year = 1961; year <= 1962; ++year)
        for (int m = 1; m <= 12; ++m) weather << "\r\n" << year << ',' << m << ',' << (m - 6) * 3 << ",40,";
    weather.close();
    dialogs.answers[FileDialog::WeatherForRun] = Saved("nosoil.wed");
    dialogs.answers.erase(FileDialog::ClimatologyForGaps);  // the person cancels the climatology

    Click(ui.OpenObservedFilesButton);
    ASSERT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("\n").toStdString();
    ASSERT_EQ(dialogs.asked.size(), 3u);
    const QString notice = "Missing soil temperatures were set to 0: no climatology was read";
    EXPECT_EQ(ui.FileSummaryLabel->text(), "There are 2 years in \"nosoil.wed\"\n" + notice);
    EXPECT_EQ(ui.NoticeLabel->text(), notice);
    EXPECT_EQ(model->Results.At(2, 7).Tsoil, 0.0);  // what the notice is about
    EXPECT_EQ(State(), "001001111000001000") << "Ran: the run is kept";
}

// A climatology without a soil temperature stops the run before its first
// year ("Climatologycal file error"): Step and Save file say there is
// nothing, instead of drawing or writing zeros.
TEST_F(Workflow, ARunWithoutResultsHasNothingToShowOrSave) {
    std::string climate = ReadBytes(fs::path(KELMAR_EXAMPLES_DIR) / "climat.cld");
    const auto soil = climate.find("av_Ts,-1.20");
    ASSERT_NE(soil, std::string::npos);
    climate.replace(soil, 11, "av_Ts,-99.90");
    std::ofstream(dir / "nosoil.cld", std::ios::binary) << climate;
    ui.SimulatedWeatherButton->click();
    dialogs.answers[FileDialog::ClimatologyForSimulation] = Saved("nosoil.cld");
    dialogs.answers[FileDialog::SaveResults] = Saved("results");

    Click(ui.OpenSimulatedFilesButton);
    EXPECT_EQ(dialogs.warnings, QStringList{"Climatologycal file error"});
    EXPECT_EQ(ui.StatusMessage->text(), "No years to show: the run made no results");
    Click(ui.InitialiseButton);
    ui.StatusMessage->clear();
    Step(5);
    EXPECT_EQ(ui.StatusMessage->text(), "No years to show: the run made no results");
    EXPECT_EQ(session.ReleasedYears(), 0);
    EXPECT_EQ(State(), "000101111111100000") << "still Ready";

    window.commands.SaveResultsFile();
    EXPECT_EQ(ui.StatusMessage->text(), "No years to save: nothing was written");
    EXPECT_EQ(std::count(dialogs.asked.begin(), dialogs.asked.end(), &DialogSpec(FileDialog::SaveResults)), 0);
    EXPECT_FALSE(fs::exists(dir / "results.csv"));
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("\n").toStdString();
}

// A grid cell that is not a number would make a file the readers refuse:
// the save is refused with the conversion error and the cell's place, no
// name is asked and the file of that name stays as it was.
TEST_F(Workflow, GridTextThatIsNotANumberIsNotSaved) {
    Click(ui.OpenObservedFilesButton);
    std::ofstream(dir / "site.sit") << "old site";
    std::ofstream(dir / "climate.cld") << "old climate";
    dialogs.answers[FileDialog::SaveSite] = Saved("site.sit");
    dialogs.answers[FileDialog::SaveClimatology] = Saved("climate.cld");
    const std::size_t askedBefore = dialogs.asked.size();

    struct Case {
        StringGrid* grid;
        int column, row;
        const char* typed;
        QAbstractButton* save;
        const char* error;
        const char* file;
        const char* old;
    };
    const Case cases[] = {
        {ui.SiteGrid, 1, 0, "abc", ui.SaveSiteButton,
         "'abc' is not a valid floating point value\nSite parameters, row \"Lat, deg.\"", "site.sit", "old site"},
        {ui.SiteGrid, 1, 11, "", ui.SaveSiteButton,
         "'' is not a valid floating point value\nSite parameters, row \"Corr\"", "site.sit", "old site"},
        {ui.ClimatologyGrid, 4, 3, "12,5", ui.SaveClimatologyButton,
         "'12,5' is not a valid floating point value\nClimatology, row \"Mar\", column \"Cv_P\"", "climate.cld",
         "old climate"},
    };
    for (const Case& c : cases) {
        const std::string kept = c.grid->Cell(c.column, c.row);
        c.grid->SetCell(c.column, c.row, c.typed);
        dialogs.errors.clear();
        Click(c.save);
        EXPECT_EQ(dialogs.errors, QStringList{c.error}) << "typed '" << c.typed << "'";
        EXPECT_EQ(ReadBytes(dir / c.file), c.old) << "typed '" << c.typed << "'";
        c.grid->SetCell(c.column, c.row, kept);
    }
    EXPECT_EQ(dialogs.asked.size(), askedBefore);
}

}  // namespace
}  // namespace kelmar::ui

namespace kelmar::ui {
namespace {

// A box value beyond the scenario's bounds stops either open command before
// any dialog, with the value and the bound; the window stays at Start.
TEST_F(Workflow, AScenarioBoxBeyondItsBoundsStopsBeforeAnyDialog) {
    const struct {
        const char* deltaT;
        const char* precFactor;
        QAbstractButton* button;
        const char* message;
    } cases[] = {
        {"", "1e300", ui.OpenObservedFilesButton,
         "The scenario's precipitation factor 1e+300 lies outside 0.1 to 10, the factors a scenario takes."},
        {"-20.5", "1", ui.OpenSimulatedFilesButton,
         "The scenario's temperature change -20.5 lies outside -20 to 20 \u00b0C, the changes a scenario takes."},
    };
    for (const auto& c : cases) {
        dialogs.errors.clear();
        ui.ScenarioDeltaT->setText(c.deltaT);
        ui.ScenarioPrecFactor->setText(c.precFactor);
        (c.button == ui.OpenObservedFilesButton ? ui.ObservedWeatherButton : ui.SimulatedWeatherButton)->click();
        Click(c.button);
        ASSERT_EQ(dialogs.errors.size(), 1) << c.message;
        EXPECT_EQ(dialogs.errors[0].toStdString(), c.message);
        EXPECT_TRUE(dialogs.asked.empty()) << "a dialog was shown for " << c.message;
        EXPECT_EQ(model->AvailableYears, 0) << "a run was made for " << c.message;
        EXPECT_TRUE(c.button->isEnabled());
        EXPECT_TRUE(ui.ScenarioDeltaT->isEnabled());
    }
}

// The scenario boxes of the Climatology page: the run is made under them,
// the chart title says so, the climatology shown and saved stays as read,
// and a box that is not a number stops the command before any dialog.
TEST_F(Workflow, TheScenarioBoxesChangeTheRunAndTheChartTitle) {
    ui.ScenarioDeltaT->setText("x2");
    Click(ui.OpenObservedFilesButton);
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_EQ(dialogs.errors[0], "'x2' is not a valid floating point value\nin the scenario's temperature change");
    EXPECT_TRUE(dialogs.asked.empty()) << "a dialog was shown";
    EXPECT_TRUE(ui.OpenObservedFilesButton->isEnabled());

    // The same record and seed without a scenario, for comparison.
    auto plain = std::make_unique<TModel>();
    plain->Settings.InpDat = true;
    plain->Random.SetState(1961);
    testing::CommandedWindow plainWindow{*plain};
    plainWindow.dialogs.answers = dialogs.answers;
    plainWindow.commands.OpenObservedFiles();

    dialogs.errors.clear();
    ui.ScenarioDeltaT->setText(" 2 ");
    ui.ScenarioPrecFactor->setText("0.5");
    Click(ui.OpenObservedFilesButton);
    ASSERT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("\n").toStdString();
    EXPECT_FALSE(ui.ScenarioDeltaT->isEnabled());
    EXPECT_FALSE(ui.ScenarioPrecFactor->isEnabled());
    for (int i : {1, 17, 30})
        for (int m : {1, 3, 7}) {  // March 1962 is a filled soil gap
            const TResultRecord &s = model->Results.At(i, m), &p = plain->Results.At(i, m);
            EXPECT_NEAR(s.Tair - p.Tair, 2, 1e-9) << "year index " << i << ", month " << m;
            EXPECT_NEAR(s.Tsoil - p.Tsoil, 2, 1e-9) << "year index " << i << ", month " << m;
            EXPECT_NEAR(s.Prec, p.Prec * 0.5, 1e-9) << "year index " << i << ", month " << m;
        }
    EXPECT_EQ(model->Climate.av_Ta[7], plain->Climate.av_Ta[7]) << "the climatology read was changed";
    EXPECT_EQ(ui.ClimatologyGrid->Cell(1, 7), plainWindow.form.Controls().ClimatologyGrid->Cell(1, 7));

    Click(ui.InitialiseButton);
    Step(30);
    ui.Pages->setCurrentIndex(3);  // Results
    EXPECT_EQ(ui.Chart->Title(), "Results (Month by month)<br>Scenario +2 \u00b0C, precipitation \u00d7 0.5");
    ui.Pages->setCurrentIndex(0);
    EXPECT_EQ(ui.Chart->Title(), "Input weather (Month by month)<br>Scenario +2 \u00b0C, precipitation \u00d7 0.5");
    plainWindow.commands.Initialise();
    plainWindow.form.Controls().StepYearsBox->setText("30");
    plainWindow.commands.Step();
    EXPECT_EQ(plainWindow.form.Controls().Chart->Title(), "Input weather (Month by month)");
}

}  // namespace
}  // namespace kelmar::ui
