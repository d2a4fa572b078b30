// Draws the main window with example data and saves it as a PNG picture:
// simulated weather, 30 years released, the "Results" tab with the
// forest-floor and mineral-soil temperatures and moistures switched on
// (or the input series, when another tab than "Results" is asked for).
//   kelmar-ui-screenshot OUTPUT.png [WIDTH HEIGHT [TAB]]
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QToolButton>
#include <QPixmap>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>

#include "ui/series_legend.h"
#include "ui_fixtures.h"

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

    auto model = kelmar::testing::SimulatedRunModel(2024);
    kelmar::ui::TMainForm form(*model);
    form.ShowSiteParams();
    form.ShowClimatology();
    form.resize(width, height);
    form.show();

    const auto& controls = form.Controls();
    // The commands a run and a first Step switch on.
    for (QWidget* control : std::initializer_list<QWidget*>{controls.SaveBtn, controls.InitBtn, controls.Label1,
                                                            controls.TrackBar1, controls.Edit1, controls.StepBtn})
        control->setEnabled(true);
    controls.Edit1->setText("30");
    controls.TrackBar1->setMaximum(500);
    controls.TrackBar1->setValue(30);
    controls.PageControl1->setCurrentIndex(tab);
    kelmar::testing::ShowReleasedYears(form, *model, 30);
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
