#include "ui/region/region_window.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFormLayout>
#include <QLabel>
#include <QScreen>
#include <QMenuBar>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QSplitter>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <exception>

#include "app/region/course_records.h"
#include "ui/form/user_dialogs.h"
#include "ui/region/region_map_widget.h"
#include "ui/region/site_course_chart.h"

namespace kelmar::ui {

namespace {

// The months of each item of the months box: every month, one month, or a
// season of the northern mid-latitudes.
const std::vector<std::pair<QString, std::vector<int>>> MONTH_CHOICES = {
    {"All months", {}},
    {"January", {1}},
    {"February", {2}},
    {"March", {3}},
    {"April", {4}},
    {"May", {5}},
    {"June", {6}},
    {"July", {7}},
    {"August", {8}},
    {"September", {9}},
    {"October", {10}},
    {"November", {11}},
    {"December", {12}},
    {"December to February", {12, 1, 2}},
    {"March to May", {3, 4, 5}},
    {"June to August", {6, 7, 8}},
    {"September to November", {9, 10, 11}},
};

const std::vector<std::pair<QString, region::MapStatistic>> STATISTICS = {
    {"Mean", region::MapStatistic::Mean},
    {"Difference between scenarios", region::MapStatistic::Difference},
    {"Percentile of the realizations", region::MapStatistic::Percentile},
    {"Spread of the realizations (90th - 10th percentile)", region::MapStatistic::Spread},
};

void EnableItem(QComboBox* box, int item, bool enabled) {
    if (auto* model = qobject_cast<QStandardItemModel*>(box->model()))
        if (QStandardItem* entry = model->item(item)) entry->setEnabled(enabled);
}

QString Degrees(double value, char positive, char negative) {
    if (!std::isfinite(value)) return "?";
    return QString("%1\u00b0%2").arg(std::fabs(value), 0, 'f', 2).arg(value < 0 ? negative : positive);
}

}  // namespace

RegionWindow::RegionWindow(region::RegionBatch batch, const QString& folder, UserDialogs& dialogs, QWidget* parent)
    : QMainWindow(parent), Batch(std::move(batch)), Dialogs(dialogs) {
    setObjectName("RegionWindow");
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle("Region: " + QDir::toNativeSeparators(folder) + " - KELMAR");

    auto* outer = new QSplitter(Qt::Horizontal, this);
    outer->addWidget(MakeControls());
    auto* right = new QSplitter(Qt::Vertical, outer);
    MapView = new RegionMapWidget(&Dialogs, right);
    MapView->setObjectName("RegionMap");
    CourseView = new SiteCourseChart(right);
    right->addWidget(MapView);
    right->addWidget(CourseView);
    right->setStretchFactor(0, 1);
    right->setStretchFactor(1, 1);
    outer->addWidget(right);
    outer->setStretchFactor(1, 1);
    setCentralWidget(outer);

    QMenu* menu = menuBar()->addMenu("&Map");
    QAction* save = menu->addAction("&Save map...", this, [this] { MapView->SaveMapAs(); });
    save->setShortcut(QKeySequence::Save);
    menu->addAction("Show &all sites", this, [this] { MapView->ResetZoom(); });
    menu->addSeparator();
    QAction* close = menu->addAction("&Close", this, &QWidget::close);
    close->setShortcut(QKeySequence::Close);

    connect(MapView, &RegionMapWidget::SiteClicked, this, [this](std::size_t index) { ShowSite(index); });
    connect(MapView, &RegionMapWidget::MapSaved, this,
            [this](const QString& file) { statusBar()->showMessage("Map saved to " + file); });

    FillControls();
    const region::RegionContents& contents = Batch.Contents();
    statusBar()->showMessage(QString("%1 sites, %2 to %3, read from %4")
                                 .arg(contents.Sites)
                                 .arg(contents.FirstYear)
                                 .arg(contents.LastYear)
                                 .arg(contents.Netcdf ? "results.nc" : "the CSV tables"));
    // Most of the screen: the map and the site's chart share its height.
    const QRect screen = this->screen() ? this->screen()->availableGeometry() : QRect(0, 0, 1280, 900);
    resize(std::min(1400, screen.width() * 9 / 10), std::min(1000, screen.height() * 9 / 10));
    right->setSizes({height() * 11 / 20, height() * 9 / 20});
}

RegionWindow::~RegionWindow() = default;

QWidget* RegionWindow::MakeControls() {
    auto* panel = new QWidget(this);
    // Wide enough for the variables' names (the longest some 45 characters).
    panel->setMinimumWidth(fontMetrics().horizontalAdvance(QString(46, 'n')));
    auto* layout = new QVBoxLayout(panel);
    auto* form = new QFormLayout;
    const auto box = [panel](const char* name) {
        auto* made = new QComboBox(panel);
        made->setObjectName(name);
        return made;
    };
    const auto spin = [panel](const char* name) {
        auto* made = new QSpinBox(panel);
        made->setObjectName(name);
        return made;
    };
    Variable = box("VariableBox");
    Statistic = box("StatisticBox");
    Months = box("MonthsBox");
    FirstYear = spin("FirstYearBox");
    LastYear = spin("LastYearBox");
    Scenario = box("ScenarioBox");
    OtherScenario = box("OtherScenarioBox");
    Realization = box("RealizationBox");
    PercentileValue = spin("PercentileBox");
    form->addRow("&Variable:", Variable);
    form->addRow("S&tatistic:", Statistic);
    form->addRow("&Months:", Months);
    form->addRow("&From year:", FirstYear);
    form->addRow("T&o year:", LastYear);
    form->addRow("&Scenario:", Scenario);
    form->addRow("M&inus scenario:", OtherScenario);
    form->addRow("&Realization:", Realization);
    form->addRow("&Percentile:", PercentileValue);
    layout->addLayout(form);
    SiteText = new QLabel(panel);
    SiteText->setObjectName("SiteLabel");
    SiteText->setWordWrap(true);
    SiteText->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    SiteText->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    SiteText->setText("Click a site on the map.");
    layout->addWidget(SiteText, 1);
    return panel;
}

void RegionWindow::FillControls() {
    Filling = true;
    const region::RegionContents& contents = Batch.Contents();
    for (const region::RegionVariable& variable : contents.Variables)
        Variable->addItem(QString::fromStdString(variable.LongName + " (" + variable.Name + ")"),
                          QString::fromStdString(variable.Name));
    // The mineral soil under the forest is what most maps of a region ask for.
    if (const int soil = Variable->findData("t_ms"); soil >= 0) Variable->setCurrentIndex(soil);
    for (const auto& [text, statistic] : STATISTICS) Statistic->addItem(text, static_cast<int>(statistic));
    const bool scenarios = contents.Scenarios.size() >= 2;
    const bool ensemble = contents.Realizations > 1;
    EnableItem(Statistic, 1, scenarios);
    EnableItem(Statistic, 2, ensemble);
    EnableItem(Statistic, 3, ensemble);
    for (const auto& [text, months] : MONTH_CHOICES) Months->addItem(text);
    for (QSpinBox* year : {FirstYear, LastYear}) year->setRange(contents.FirstYear, contents.LastYear);
    FirstYear->setValue(contents.FirstYear);
    LastYear->setValue(contents.LastYear);
    for (const std::string& name : contents.Scenarios) {
        Scenario->addItem(QString::fromStdString(name), QString::fromStdString(name));
        OtherScenario->addItem(QString::fromStdString(name), QString::fromStdString(name));
    }
    if (contents.Scenarios.empty()) Scenario->addItem("(none)", QString());
    if (OtherScenario->count() > 1) OtherScenario->setCurrentIndex(1);
    Realization->addItem("Mean of the realizations", -1);
    for (int r = 0; r < contents.Realizations; ++r) Realization->addItem(QString("Realization %1").arg(r), r);
    if (!ensemble) Realization->setCurrentIndex(1);
    PercentileValue->setRange(0, 100);
    PercentileValue->setValue(50);
    PercentileValue->setSuffix(" %");

    for (QComboBox* choice : {Variable, Statistic, Months, Scenario, OtherScenario, Realization})
        connect(choice, &QComboBox::currentIndexChanged, this, [this] { ControlsChanged(); });
    for (QSpinBox* number : {FirstYear, LastYear, PercentileValue})
        connect(number, &QSpinBox::valueChanged, this, [this] { ControlsChanged(); });
    Filling = false;
    ControlsChanged();
}

region::MapRequest RegionWindow::Request() const {
    region::MapRequest request;
    request.Variable = Variable->currentData().toString().toStdString();
    request.Statistic = static_cast<region::MapStatistic>(Statistic->currentData().toInt());
    request.Months = MONTH_CHOICES[static_cast<std::size_t>(std::max(0, Months->currentIndex()))].second;
    request.FirstYear = std::min(FirstYear->value(), LastYear->value());
    request.LastYear = std::max(FirstYear->value(), LastYear->value());
    request.Scenario = Scenario->currentData().toString().toStdString();
    if (request.Statistic == region::MapStatistic::Difference)
        request.OtherScenario = OtherScenario->currentData().toString().toStdString();
    const int realization = Realization->currentData().toInt();
    if (realization >= 0 && Batch.Contents().Realizations > 1) request.Realization = realization;
    request.Percentile = PercentileValue->value();
    return request;
}

void RegionWindow::ControlsChanged() {
    if (Filling) return;
    const auto statistic = static_cast<region::MapStatistic>(Statistic->currentData().toInt());
    const bool acrossRealizations =
        statistic == region::MapStatistic::Percentile || statistic == region::MapStatistic::Spread;
    Scenario->setEnabled(Batch.Contents().Scenarios.size() > 1);
    OtherScenario->setEnabled(statistic == region::MapStatistic::Difference);
    Realization->setEnabled(!acrossRealizations && Batch.Contents().Realizations > 1);
    PercentileValue->setEnabled(statistic == region::MapStatistic::Percentile);
    Redraw();
}

void RegionWindow::Redraw() {
    try {
        ShownMap = Batch.Map(Request());
        MapView->SetMap(ShownMap);
        if (ShownSite) ShowSite(*ShownSite);
    } catch (const std::exception& e) {
        Dialogs.Error(QString::fromStdString(e.what()));
    }
}

void RegionWindow::ShowSite(std::size_t index) {
    try {
        const region::RegionSite site = Batch.SiteInfo(static_cast<std::int64_t>(index));
        ShownSite = index;
        QString text = "<b>" + QString::fromStdString(site.Id).toHtmlEscaped() + "</b><br>" +
                       Degrees(site.Lat, 'N', 'S') + ", " + Degrees(site.Lon, 'E', 'W');
        const double value = index < ShownMap.Value.size() ? ShownMap.Value[index] : NAN;
        text += "<br>" + QString::fromStdString(ShownMap.Title).toHtmlEscaped() + ": " +
                (std::isfinite(value) ? QString::number(value, 'g', 4) + " " +
                                            QString::fromStdString(ShownMap.Units).toHtmlEscaped()
                                      : QString("no value"));
        for (std::size_t k = 0; k < site.ParamNames.size() && k < site.ParamValues.size(); ++k)
            text += "<br>" + QString::fromStdString(site.ParamNames[k]).toHtmlEscaped() + " = " +
                    QString::number(site.ParamValues[k], 'g', 6);
        SiteText->setText(text);

        const region::MapRequest request = Request();
        const int realization = request.Realization.value_or(0);
        QStringList context;
        if (!request.Scenario.empty()) context << "Scenario " + QString::fromStdString(request.Scenario);
        if (Batch.Contents().Realizations > 1) context << QString("realization %1").arg(realization);
        CourseView->ShowCourse(QString::fromStdString(site.Id), context.join(", "),
                               region::RecordsOfCourse(Batch.SiteCourse(static_cast<std::int64_t>(index),
                                                                        request.Scenario, realization)));
    } catch (const std::exception& e) {
        Dialogs.Error(QString::fromStdString(e.what()));
    }
}

}  // namespace kelmar::ui
