// The Region view through the real window: Ctrl+R opens a batch's folder as
// a map, the controls recolour it, a click on a site shows its details and
// its course in the chart with the batch's own numbers, and folders that
// give no map are refused by name.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineSeries>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ui/region/region_map_painter.h"
#include "ui/region/region_map_widget.h"
#include "ui/region/region_window.h"
#include "ui/region/site_course_chart.h"
#include "ui/ui_fixtures.h"
#include "ui/widgets/line_chart.h"

namespace kelmar::ui {
namespace {

namespace fs = std::filesystem;

// Three sites of the example soil and climatology, three simulated years,
// run by kelmar-cli into `dir` (format "both": results.nc for the map, monthly.csv
// for the numbers the test expects).
void RunBatch(const fs::path& dir, const char* format) {
    fs::create_directories(dir);
    std::ofstream list(dir / "sites.csv");
    list << "site_id,site_file,climate_file,lat,lon\n";
    const char* rows[][2] = {{"55.5", "25.0"}, {"60.25", "26.5"}, {"64.0", "23.75"}};
    for (int i = 0; i < 3; ++i)
        list << "s" << i << "," KELMAR_EXAMPLES_DIR "/soil.sit," KELMAR_EXAMPLES_DIR "/climat.cld," << rows[i][0] << ","
             << rows[i][1] << "\n";
    list.close();
    const std::string command = std::string("'") + KELMAR_CLI + "' batch --sites '" + (dir / "sites.csv").string() +
                                "' --out '" + (dir / "out").string() + "' --seed 3 --run-years 3 --format " + format +
                                " --quiet";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// t_ms of each month of each site, from monthly.csv.
std::map<std::string, std::vector<std::pair<int, double>>> MonthlyTms(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    std::map<std::string, std::vector<std::pair<int, double>>> values;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::stringstream row(line);
        for (std::string field; std::getline(row, field, ',');) fields.push_back(field);
        values[fields[0]].push_back({std::stoi(fields[2]), std::stod(fields[6])});  // month, t_ms_degC
    }
    return values;
}

class RegionView : public ::testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() / ("kelmar-region-" + std::to_string(QCoreApplication::applicationPid()));
    std::unique_ptr<TModel> model = std::make_unique<TModel>();
    testing::CommandedWindow window{*model};

    void TearDown() override { fs::remove_all(dir); }

    RegionWindow* OpenWithKey(const fs::path& folder) {
        window.dialogs.folderAnswer = QString::fromStdString(folder.string());
        window.form.findChild<QAction*>("RegionKey")->trigger();
        return window.form.findChild<RegionWindow*>();
    }
};

TEST_F(RegionView, MapsTheBatchAndShowsAClickedSitesCourseWithItsNumbers) {
    RunBatch(dir, "both");
    RegionWindow* region = OpenWithKey(dir / "out");
    ASSERT_NE(region, nullptr) << window.dialogs.errors.join("\n").toStdString();
    region->resize(1200, 900);
    region->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(region));
    const auto expected = MonthlyTms(dir / "out" / "monthly.csv");

    // July's mean of the three years, as the months box asks for it.
    region->MonthsBox()->setCurrentText("July");
    const region::RegionMap& shown = region->Shown();
    ASSERT_EQ(shown.Ids.size(), 3u);
    for (std::size_t i = 0; i < shown.Ids.size(); ++i) {
        double sum = 0;
        int n = 0;
        for (const auto& [month, value] : expected.at(shown.Ids[i]))
            if (month == 7) sum += value, ++n;
        EXPECT_NEAR(shown.Value[i], sum / n, 1e-9) << shown.Ids[i];
    }

    // A click on the second site's dot.
    RegionMapWidget& map = region->Map();
    const std::optional<QPointF> pixel = map.Painter().SitePixel(1, QRectF(map.rect()));
    ASSERT_TRUE(pixel);
    QTest::mouseClick(&map, Qt::LeftButton, {}, pixel->toPoint());
    EXPECT_TRUE(region->SiteLabel()->text().contains("<b>s1</b>")) << region->SiteLabel()->text().toStdString();
    LineChart& chart = region->Course().Chart();
    EXPECT_TRUE(chart.Title().contains("Site s1")) << chart.Title().toStdString();
    const QList<QPointF> points = chart.Series(ChartSeries::T_ms)->points();
    const auto& months = expected.at("s1");
    ASSERT_EQ(points.size(), static_cast<qsizetype>(months.size()));
    for (std::size_t t = 0; t < months.size(); ++t) {
        EXPECT_EQ(points[static_cast<qsizetype>(t)].x(), static_cast<double>(t + 1));
        EXPECT_NEAR(points[static_cast<qsizetype>(t)].y(), months[t].second, 1e-12) << "month " << t + 1;
    }
    region->close();
}

TEST_F(RegionView, FoldersThatGiveNoMapAreRefusedByName) {
    fs::create_directories(dir / "empty");
    EXPECT_EQ(OpenWithKey(dir / "empty"), nullptr);
    ASSERT_EQ(window.dialogs.errors.size(), 1);
    EXPECT_TRUE(window.dialogs.errors[0].contains(QString::fromStdString((dir / "empty").string())))
        << window.dialogs.errors[0].toStdString();

    // CSV tables hold no positions: the site list is asked for, and a cancel opens nothing.
    RunBatch(dir, "csv");
    EXPECT_EQ(OpenWithKey(dir / "out"), nullptr);
    ASSERT_FALSE(window.dialogs.asked.empty());
    EXPECT_EQ(window.dialogs.asked.back(), &DialogSpec(FileDialog::SiteListForMap));
    EXPECT_EQ(window.dialogs.errors.size(), 1);
    // Given the list, the map opens.
    window.dialogs.answers[FileDialog::SiteListForMap] = QString::fromStdString((dir / "sites.csv").string());
    RegionWindow* region = OpenWithKey(dir / "out");
    ASSERT_NE(region, nullptr) << window.dialogs.errors.join("\n").toStdString();
    EXPECT_EQ(region->Shown().Ids.size(), 3u);
    region->close();
}

}  // namespace
}  // namespace kelmar::ui
