// The course of one site of a batch in the chart of a single-site run: the
// same series, colours and axes, month by month over the run, as annual
// averages, or one month across the years; the results or the weather that
// drove them.
#pragma once

#include <QWidget>

#include "app/region/course_records.h"

class QComboBox;
class QLabel;

namespace kelmar::ui {

class LineChart;

class SiteCourseChart : public QWidget {
    Q_OBJECT

public:
    explicit SiteCourseChart(QWidget* parent = nullptr);

    // Shows the course of the site `siteId`; `context` (the scenario and
    // realization) goes into the title after the id, when not empty.
    void ShowCourse(const QString& siteId, const QString& context, region::CourseRecords records);
    // Nothing shown: no site chosen yet.
    void Clear();

    LineChart& Chart() const { return *Lines; }
    // "Month by month", "Annual average", then "January" .. "December".
    QComboBox* ViewBox() const { return View; }
    // "Results" or "Weather" (air and soil temperature, precipitation).
    QComboBox* GroupBox() const { return Group; }

private:
    void Redraw();

    LineChart* Lines;
    QLabel* Hint;  // in the chart's place until a site is chosen
    QComboBox* View;
    QComboBox* Group;
    QString SiteId, Context;
    region::CourseRecords Records;
};

}  // namespace kelmar::ui
