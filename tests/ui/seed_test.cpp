// `kelmar --seed N`: the window starts its random source in state N, shows
// the state a run used, and a run seen in the window can be repeated with
// `kelmar-cli --seed N`.
#include <QCoreApplication>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ui/ui_fixtures.h"
#include "ui/form/window_options.h"

namespace kelmar::ui {
namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(WindowOptions, SeedIsAWholeNumberOf32Bits) {
    struct Case {
        QStringList arguments;
        std::optional<std::uint32_t> seed;
        bool error;
    };
    const Case cases[] = {
        {{"kelmar"}, std::nullopt, false},
        {{"kelmar", "--seed", "1961"}, 1961u, false},
        {{"kelmar", "--seed=0"}, 0u, false},
        {{"kelmar", "--seed", "4294967295"}, 4294967295u, false},
        {{"kelmar", "--seed", "4294967296"}, std::nullopt, true},
        {{"kelmar", "--seed", "-1"}, std::nullopt, true},
        {{"kelmar", "--seed", " 12"}, std::nullopt, true},
        {{"kelmar", "--seed", "12x"}, std::nullopt, true},
        {{"kelmar", "--seed"}, std::nullopt, true},
        {{"kelmar", "--speed", "3"}, std::nullopt, true},
        {{"kelmar", "soil.sit"}, std::nullopt, true},
    };
    for (const Case& c : cases) {
        const WindowOptions options = ParseWindowOptions(c.arguments);
        const std::string call = c.arguments.join(' ').toStdString();
        EXPECT_EQ(options.seed, c.seed) << call;
        EXPECT_EQ(!options.error.isEmpty(), c.error) << call << ": " << options.error.toStdString();
    }
}

// --help and --version win over whatever else the line holds, Qt's own
// options included, since they are answered before the QApplication exists.
TEST(WindowOptions, HelpAndVersionAreAnsweredWhateverElseTheLineHolds) {
    for (const QStringList& arguments :
         {QStringList{"kelmar", "--help"}, QStringList{"kelmar", "-h"}, QStringList{"kelmar", "--seed", "x", "--help"},
          QStringList{"kelmar", "-platform", "offscreen", "--help"}, QStringList{"kelmar", "soil.sit", "-h"}}) {
        const WindowOptions options = ParseWindowOptions(arguments);
        EXPECT_TRUE(options.help) << arguments.join(' ').toStdString();
        EXPECT_TRUE(options.error.isEmpty()) << options.error.toStdString();
    }
    for (const QStringList& arguments : {QStringList{"kelmar", "--version"}, QStringList{"kelmar", "-v"}}) {
        const WindowOptions options = ParseWindowOptions(arguments);
        EXPECT_TRUE(options.version && !options.help) << arguments.join(' ').toStdString();
    }
    EXPECT_FALSE(ParseWindowOptions({"kelmar", "--seed", "1"}).help);
    // The help names every option the parser knows, so the manual page made from it does too.
    for (const char* option : {"--seed N", "--help", "--version"})
        EXPECT_TRUE(WindowHelpText().contains(option)) << option;
    EXPECT_TRUE(WindowHelpText().startsWith("Usage: kelmar "));
    EXPECT_EQ(WindowVersionText(), "kelmar " KELMAR_VERSION "\n");
}

// `kelmar --help` prints and exits 0 with no display at all: no platform
// plugin is chosen, so QApplication would stop the program without one.
TEST(WindowOptions, HelpNeedsNoDisplay) {
    QProcess kelmar;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) environment.remove(name);
    kelmar.setProcessEnvironment(environment);
    for (const char* option : {"--help", "--version"}) {
        kelmar.start(KELMAR_WINDOW, {option});
        ASSERT_TRUE(kelmar.waitForFinished(30000)) << option;
        EXPECT_EQ(kelmar.exitStatus(), QProcess::NormalExit) << option;
        EXPECT_EQ(kelmar.exitCode(), 0) << option << ": " << kelmar.readAllStandardError().toStdString();
        const QString out = QString::fromLocal8Bit(kelmar.readAllStandardOutput());
        EXPECT_EQ(out, std::string(option) == "--help" ? WindowHelpText() : WindowVersionText()) << option;
    }
}

// Both input modes: the window started with --seed, opened, stepped through
// every year and saved, against the command-line tool with the same seed.
TEST(WindowOptions, AWindowRunRepeatsWithTheCommandLineTool) {
    const fs::path dir = fs::temp_directory_path() / ("kelmar-seed-" + std::to_string(QCoreApplication::applicationPid()));
    fs::create_directories(dir);
    const QString examples = KELMAR_EXAMPLES_DIR;
    struct Case {
        const char* what;
        bool fromFile;
        const char* seed;
        int years;
    };
    const Case cases[] = {{"simulated weather", false, "4242", MAX_YEARS}, {"weather from file", true, "77", 30}};
    for (const Case& c : cases) {
        const WindowOptions options = ParseWindowOptions({"kelmar", "--seed", c.seed});
        ASSERT_TRUE(options.seed) << c.what;
        auto model = std::make_unique<TModel>();
        model->Random.SetState(*options.seed);
        model->Settings.InpDat = c.fromFile;
        testing::CommandedWindow window(*model);
        window.dialogs.answers = {{FileDialog::SiteForRun, examples + "/soil.sit"},
                                  {FileDialog::WeatherForRun, examples + "/weather.wed"},
                                  {FileDialog::ClimatologyForGaps, examples + "/climat.cld"},
                                  {FileDialog::ClimatologyForSimulation, examples + "/climat.cld"},
                                  {FileDialog::SaveResults, QString::fromStdString((dir / "window.csv").string())}};
        const TMainFormControls& ui = window.form.Controls();
        (c.fromFile ? ui.OpenObservedFilesButton : ui.OpenSimulatedFilesButton)->click();
        EXPECT_EQ(ui.RandomStateLabel->text(), QString("Random state ") + c.seed) << c.what;
        testing::ReleaseYears(window, c.years);
        ui.SaveResultsButton->click();
        ASSERT_TRUE(window.dialogs.errors.isEmpty()) << c.what << ": " << window.dialogs.errors.join("\n").toStdString();

        QStringList arguments = {"simulate", "--site", examples + "/soil.sit", "--climate", examples + "/climat.cld",
                                 "--seed", c.seed, "--results", QString::fromStdString((dir / "cli.csv").string())};
        if (c.fromFile) arguments << "--weather" << examples + "/weather.wed";
        QProcess cli;
        cli.start(KELMAR_CLI, arguments);
        ASSERT_TRUE(cli.waitForFinished(60000)) << c.what;
        ASSERT_EQ(cli.exitCode(), 0) << c.what << ": " << cli.readAllStandardError().toStdString();

        const std::string windowBytes = ReadBytes(dir / "window.csv");
        EXPECT_GT(windowBytes.size(), 100u) << c.what;
        EXPECT_TRUE(windowBytes == ReadBytes(dir / "cli.csv")) << c.what << ": the two results files differ";
        fs::remove(dir / "window.csv");
        fs::remove(dir / "cli.csv");
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace kelmar::ui
