// Walks through the window as a new user does, with the example files
// proposed by the open dialogs, and saves a picture of each stage for the
// user guide:
//   01-start.png          the window as it opens
//   02-weather-opened.png weather from file opened: the record, estimated soil temperatures in red
//   03-results.png        ten years released, results month by month
//   04-annual-course.png  the annual course of one year of the inputs
//   05-climatology.png    the climatology page
//   06-site.png           the site parameters page
//   07-simulated.png      500 simulated years, July across the years
//   kelmar-ui-screenshot OUTPUT_FOLDER [WIDTH HEIGHT]
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QToolButton>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#include "ui/widgets/line_chart.h"
#include "ui/widgets/series_legend.h"
#include "ui_fixtures.h"

namespace {

using kelmar::FileDialog;
using kelmar::testing::CommandedWindow;
using kelmar::ui::ChartSeries;

enum Tab { INPUT_TAB = 0, SITE_TAB = 1, CLIMATOLOGY_TAB = 2, RESULTS_TAB = 3 };

QString Example(const char* name) { return QString(KELMAR_EXAMPLES_DIR "/") + name; }

// A new program start, shown at the given size, whose open dialogs are
// answered with the example files. The model lives as long as the window.
struct ExampleSession {
    ExampleSession(std::uint32_t seed, int width, int height)
        : model([seed] {
              auto m = std::make_unique<kelmar::TModel>();
              m->Settings.InpDat = true;  // the mode the program starts in
              m->Random.SetState(seed);
              return m;
          }()),
          window(*model) {
        window.dialogs.answers[FileDialog::SiteForRun] = Example("soil.sit");
        window.dialogs.answers[FileDialog::WeatherForRun] = Example("weather.wed");
        window.dialogs.answers[FileDialog::ClimatologyForGaps] = Example("climat.cld");
        window.dialogs.answers[FileDialog::ClimatologyForSimulation] = Example("climat.cld");
        window.form.resize(width, height);
        window.form.show();
    }
    std::unique_ptr<kelmar::TModel> model;
    CommandedWindow window;
};

void SwitchOn(CommandedWindow& window, std::initializer_list<ChartSeries> series) {
    kelmar::ui::SeriesLegend& legend = *window.form.Controls().Chart->Legend();
    for (ChartSeries s : series)
        if (legend.IsListed(s) && !legend.Entry(s)->isChecked()) legend.Entry(s)->click();
}

// The chart view the user picks in "Data on the chart".
void ChooseView(CommandedWindow& window, int view) {
    window.form.SetSelectedMonth(view);
    window.form.ChartViewChosen();
}

bool Save(CommandedWindow& window, const QDir& folder, const char* name) {
    QApplication::processEvents();
    const bool saved = window.form.grab().save(folder.filePath(name));
    if (!saved) std::fprintf(stderr, "cannot write %s\n", qPrintable(folder.filePath(name)));
    return saved;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER [WIDTH HEIGHT]\n", argv[0]);
        return 2;
    }
    // Absolute: opening a weather file makes the program's folder the current one.
    const QDir folder(QDir(QString::fromLocal8Bit(argv[1])).absolutePath());
    const int width = argc > 3 ? std::atoi(argv[2]) : 1280;
    const int height = argc > 3 ? std::atoi(argv[3]) : 800;
    bool ok = true;

    // Weather from file.
    ExampleSession first(1961, width, height);
    CommandedWindow& window = first.window;
    const auto& ui = window.form.Controls();
    ok &= Save(window, folder, "01-start.png");

    ui.OpenObservedFilesButton->click();
    ok &= Save(window, folder, "02-weather-opened.png");

    ui.InitialiseButton->click();
    ui.StepYearsBox->setText("10");
    ui.StepButton->click();
    ui.Pages->setCurrentIndex(RESULTS_TAB);
    SwitchOn(window, {ChartSeries::T_ff, ChartSeries::T_ms, ChartSeries::W_ff_vol, ChartSeries::W_ms_vol});
    ok &= Save(window, folder, "03-results.png");

    ui.Pages->setCurrentIndex(INPUT_TAB);
    SwitchOn(window, {ChartSeries::Tair, ChartSeries::Tsoil, ChartSeries::Prec});
    ChooseView(window, 1);  // "Annual course"
    window.form.SetSelectedYear(4);
    ok &= Save(window, folder, "04-annual-course.png");

    ui.Pages->setCurrentIndex(CLIMATOLOGY_TAB);
    ok &= Save(window, folder, "05-climatology.png");
    ui.Pages->setCurrentIndex(SITE_TAB);
    ok &= Save(window, folder, "06-site.png");
    window.form.hide();

    // Simulated weather: 500 years at once, one month across the years.
    ExampleSession simulated(500, width, height);
    CommandedWindow& second = simulated.window;
    const auto& ui2 = second.form.Controls();
    ui2.SimulatedWeatherButton->click();
    ui2.OpenSimulatedFilesButton->click();
    ui2.InitialiseButton->click();
    ui2.StepYearsBox->setText("500");
    ui2.StepButton->click();
    ui2.Pages->setCurrentIndex(RESULTS_TAB);
    SwitchOn(second, {ChartSeries::T_ms, ChartSeries::W_ms_vol});
    ChooseView(second, 9);  // "July"
    ok &= Save(second, folder, "07-simulated.png");

    for (const auto* dialogs : {&window.dialogs, &second.dialogs})
        for (const QString& message : dialogs->errors + dialogs->warnings) {
            std::fprintf(stderr, "%s\n", qPrintable(message));
            ok = false;
        }
    return ok ? 0 : 1;
}
