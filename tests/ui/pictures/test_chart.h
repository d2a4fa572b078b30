// A small real chart as the window shows one: a title, three line series
// (two on the temperature axis, one on the right axis), axis titles with
// the Cyrillic Es of "Temperature, °С", the window's background colour, and
// a check box drawn over the chart as a legend entry.
#pragma once

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QLineSeries>
#include <QValueAxis>

#include <array>
#include <cmath>

namespace kelmar::ui::testing {

struct TestSeries {
    const char* Name;
    QColor Color;
    bool RightAxis;
};

inline const QColor CHART_BACKGROUND(218, 224, 248);
inline const std::array<TestSeries, 3> TEST_SERIES{{{"Tair", QColor(255, 0, 0), false},
                                                    {"Tsoil", QColor(0, 128, 0), false},
                                                    {"Prec", QColor(0, 0, 255), true}}};
inline const char* const CHART_TITLE = "Input weather (Month by month)";
inline const char* const BOTTOM_TITLE = "Number of months";
inline const char* const LEFT_TITLE = "Temperature, \u00b0\u0421";
inline const char* const RIGHT_TITLE = "Precipitation, mm";
inline const char* const LEGEND_ENTRY = "Tair legend";
constexpr int CHART_WIDTH = 640, CHART_HEIGHT = 400;
constexpr int MONTHS = 24;

class TestChart {
public:
    TestChart() {
        QChart* chart = View.chart();
        chart->setTitle(CHART_TITLE);
        chart->setBackgroundBrush(CHART_BACKGROUND);
        chart->legend()->hide();
        View.setBackgroundBrush(CHART_BACKGROUND);
        auto* bottom = Axis(BOTTOM_TITLE, 1, MONTHS);
        auto* left = Axis(LEFT_TITLE, -20, 20);
        auto* right = Axis(RIGHT_TITLE, 0, 200);
        chart->addAxis(bottom, Qt::AlignBottom);
        chart->addAxis(left, Qt::AlignLeft);
        chart->addAxis(right, Qt::AlignRight);
        for (std::size_t s = 0; s < TEST_SERIES.size(); ++s) {
            auto* series = new QLineSeries;
            series->setName(TEST_SERIES[s].Name);
            series->setPen(QPen(TEST_SERIES[s].Color, 2));
            for (int m = 1; m <= MONTHS; ++m)
                series->append(m, TEST_SERIES[s].RightAxis ? 100 + 80 * std::sin(m) : 15 * std::cos(m + 2.0 * static_cast<double>(s)));
            chart->addSeries(series);
            series->attachAxis(bottom);
            series->attachAxis(TEST_SERIES[s].RightAxis ? right : left);
        }
        auto* legend = new QCheckBox(LEGEND_ENTRY, &View);
        legend->setChecked(true);
        legend->move(CHART_WIDTH - 140, CHART_HEIGHT / 8);
        View.resize(CHART_WIDTH, CHART_HEIGHT);
        View.show();
        QApplication::processEvents();
    }

    QChartView& Widget() { return View; }

private:
    static QValueAxis* Axis(const char* title, double min, double max) {
        auto* axis = new QValueAxis;
        axis->setTitleText(QString::fromUtf8(title));
        axis->setRange(min, max);
        axis->setGridLineVisible(false);
        return axis;
    }

    QChartView View;
};

}  // namespace kelmar::ui::testing
