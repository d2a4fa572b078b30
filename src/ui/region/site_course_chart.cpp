#include "ui/region/site_course_chart.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QValueAxis>
#include <QVBoxLayout>

#include <cmath>

#include "ui/widgets/line_chart.h"
#include "ui/widgets/series_legend.h"

namespace kelmar::ui {

namespace {

constexpr int MONTH_BY_MONTH = 0;
constexpr int ANNUAL_AVERAGE = 1;  // then January (2) .. December (13)

const QStringList VIEWS = {"Month by month", "Annual average", "January", "February", "March",     "April",
                           "May",            "June",           "July",    "August",   "September", "October",
                           "November",       "December"};

// A value the site lacks (NaN) leaves a gap: it is no point of the line.
void Append(LineChart::AllPoints& points, double x, const TResultRecord& record) {
    for (int s = 0; s < SERIES_COUNT; ++s) {
        const double value = record.*Info(SeriesAt(s)).Field;
        if (std::isfinite(value)) points[static_cast<std::size_t>(s)].append(QPointF(x, value));
    }
}

}  // namespace

SiteCourseChart::SiteCourseChart(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* controls = new QHBoxLayout;
    auto* viewLabel = new QLabel("&View:", this);
    View = new QComboBox(this);
    View->setObjectName("SiteViewBox");
    View->addItems(VIEWS);
    viewLabel->setBuddy(View);
    auto* groupLabel = new QLabel("S&how:", this);
    Group = new QComboBox(this);
    Group->setObjectName("SiteGroupBox");
    Group->addItems({"Results", "Weather"});
    groupLabel->setBuddy(Group);
    for (QWidget* widget : {static_cast<QWidget*>(viewLabel), static_cast<QWidget*>(View),
                            static_cast<QWidget*>(groupLabel), static_cast<QWidget*>(Group)})
        controls->addWidget(widget);
    controls->addStretch();
    layout->addLayout(controls);
    Lines = new LineChart(this);
    Lines->setObjectName("SiteChart");
    layout->addWidget(Lines, 1);
    Hint = new QLabel("Click a site on the map for its course.", this);
    Hint->setAlignment(Qt::AlignCenter);
    layout->addWidget(Hint, 1);
    // A site's course is what the person clicked for: every series starts
    // ticked (the single run's chart starts with none, as its guide shows).
    for (int s = 0; s < SERIES_COUNT; ++s) Lines->Legend()->Entry(SeriesAt(s))->setChecked(true);
    connect(View, &QComboBox::currentIndexChanged, this, [this] { Redraw(); });
    connect(Group, &QComboBox::currentIndexChanged, this, [this] { Redraw(); });
    Clear();
}

void SiteCourseChart::ShowCourse(const QString& siteId, const QString& context, region::CourseRecords records) {
    SiteId = siteId;
    Context = context;
    Records = std::move(records);
    Redraw();
}

void SiteCourseChart::Clear() {
    SiteId.clear();
    Records = {};
    Redraw();
}

void SiteCourseChart::Redraw() {
    const int view = View->currentIndex();
    const bool results = Group->currentIndex() == 0;
    LineChart::AllPoints points;
    if (view == MONTH_BY_MONTH) {
        Lines->SetBottomAutomatic(true);
        Lines->SetBottomIncrement(0);
        Lines->BottomAxis()->setTitleText("Number of months");
        for (std::size_t t = 0; t < Records.Monthly.size(); ++t)
            Append(points, static_cast<double>(t + 1), Records.Monthly[t]);
    } else {
        Lines->SetBottomAutomatic(true);
        Lines->SetBottomIncrement(0);
        Lines->BottomAxis()->setTitleText("Year");
        if (view == ANNUAL_AVERAGE) {
            for (const TResultRecord& record : Records.Annual) Append(points, record.Year, record);
        } else {
            const int month = view - ANNUAL_AVERAGE;
            for (const TResultRecord& record : Records.Monthly)
                if (record.Month == month) Append(points, record.Year, record);
        }
    }
    Lines->SetAllPoints(std::move(points));
    Lines->ShowGroup(results ? SeriesGroup::Results : SeriesGroup::Input);
    Lines->RightAxis()->setTitleText(results ? "Moisture, %" : "Precipitation, mm");
    // An empty chart would show only its axes' titles, one over the other.
    Lines->setVisible(!SiteId.isEmpty());
    Hint->setVisible(SiteId.isEmpty());
    if (SiteId.isEmpty()) return;
    // Chart titles take HTML.
    const QString what = (results ? "Results" : "Weather") + QString(" (") + View->currentText() + ")";
    Lines->SetTitle("Site " + SiteId.toHtmlEscaped() + ": " + what +
                    (Context.isEmpty() ? QString() : "<br>" + Context.toHtmlEscaped()));
}

}  // namespace kelmar::ui
