// Draws the main window with the example data and saves it as a PNG
// picture: the example site, the 1961-1990 weather record and the example
// climatology (for its one missing soil temperature), run with weather from
// file, the first ten years released, on the "Results" tab with the
// forest-floor and mineral-soil temperatures and volumetric moistures
// switched on (on another tab, its listed series).
//   kelmar-ui-screenshot OUTPUT.png [WIDTH HEIGHT [TAB]]
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

#include <cstdio>
#include <string>

#include "io/climatology_file.h"
#include "io/site_file.h"
#include "io/weather_file.h"
#include "ui/series_legend.h"
#include "ui_fixtures.h"

namespace {

constexpr int RELEASED_YEARS = 10;

// Reads the example files and runs the model as "Open files" does with
// weather from file; false when a file is missing.
bool LoadExamples(kelmar::TModel& model, kelmar::Notifier& notifier) {
    const std::string folder = KELMAR_EXAMPLES_DIR "/";
    model.Settings.InpDat = true;
    if (!kelmar::ReadSiteFile(model, folder + "soil.sit", notifier)) return false;
    if (!kelmar::ReadWeatherFile(model, folder + "weather.wed", notifier)) return false;
    if (!kelmar::ReadClimatologyFile(model, folder + "climat.cld", notifier)) return false;
    kelmar::RunModel(model, notifier);
    model.Settings.YearCount = 0;
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png [WIDTH HEIGHT [TAB]]\n", argv[0]);
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);
    const int width = argc > 3 ? std::atoi(argv[2]) : 1280;
    const int height = argc > 3 ? std::atoi(argv[3]) : 800;
    const int tab = argc > 4 ? std::atoi(argv[4]) : 3;

    auto model = std::make_unique<kelmar::TModel>();
    kelmar::testing::RecordingNotifier notifier;
    if (!LoadExamples(*model, notifier)) {
        for (const std::string& warning : notifier.warnings) std::fprintf(stderr, "%s\n", warning.c_str());
        return 1;
    }
    kelmar::ui::TMainForm form(*model);
    const auto& controls = form.Controls();
    form.ShowSiteParams();
    (model->Site.Saturat ? controls.RadioButton4 : controls.RadioButton5)->setChecked(true);
    (model->Site.Permafr ? controls.RadioButton6 : controls.RadioButton7)->setChecked(true);
    form.ShowClimatology();
    form.ShowInputWeather(0);
    controls.Label3->setText(QString("There are %1 years in \"weather.wed\"").arg(model->AvailableYears));

    // What the open command, Initialisation and the first Step switch on and off.
    for (QWidget* control : std::initializer_list<QWidget*>{controls.SaveBtn, controls.InitBtn, controls.Label1,
                                                            controls.TrackBar1, controls.Edit1, controls.StepBtn,
                                                            controls.SaveWedBtn})
        control->setEnabled(true);
    for (QWidget* control : std::initializer_list<QWidget*>{controls.RunBtn, controls.RadioButton1,
                                                            controls.LoadCliBtn})
        control->setEnabled(false);
    controls.TrackBar1->setMaximum(model->AvailableYears);
    controls.TrackBar1->setValue(RELEASED_YEARS);
    controls.Edit1->setText(QString::number(RELEASED_YEARS));

    form.resize(width, height);
    form.show();
    controls.PageControl1->setCurrentIndex(tab);
    kelmar::testing::ShowReleasedYears(form, *model, RELEASED_YEARS);
    using kelmar::ui::ChartSeries;
    for (ChartSeries series : {ChartSeries::Tair, ChartSeries::Tsoil, ChartSeries::Prec, ChartSeries::T_ff,
                               ChartSeries::T_ms, ChartSeries::W_ff_vol, ChartSeries::W_ms_vol})
        if (controls.Chart1->Legend()->IsListed(series)) controls.Chart1->Legend()->Entry(series)->click();

    int status = 1;
    QTimer::singleShot(300, [&] {
        status = form.grab().save(output) ? 0 : 1;
        application.quit();
    });
    application.exec();
    return status;
}
