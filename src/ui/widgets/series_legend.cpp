#include "ui/widgets/series_legend.h"

#include <QCheckBox>
#include <QPainter>
#include <QPixmap>
#include <QVBoxLayout>

#include "ui/widgets/win_color.h"

namespace kelmar::ui {

namespace {

// Legend font: 13 pixels, bold.
constexpr int LEGEND_FONT_PIXELS = 13;
// A short stroke of the series' line beside its title.
constexpr int SWATCH_WIDTH = 22;
constexpr int SWATCH_HEIGHT = 12;
constexpr int SWATCH_LINE_WIDTH = 2;

QPixmap LineSwatch(const QColor& color) {
    QPixmap pixmap(SWATCH_WIDTH, SWATCH_HEIGHT);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(QPen(color, SWATCH_LINE_WIDTH));
    painter.drawLine(1, SWATCH_HEIGHT / 2, SWATCH_WIDTH - 2, SWATCH_HEIGHT / 2);
    return pixmap;
}

}  // namespace

SeriesLegend::SeriesLegend(QWidget* parent) : QWidget(parent) {
    setObjectName("ChartLegend");
    setAttribute(Qt::WA_TranslucentBackground);
    QFont legendFont = font();
    legendFont.setPixelSize(LEGEND_FONT_PIXELS);
    legendFont.setBold(true);
    setFont(legendFont);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    for (int i = 0; i < SERIES_COUNT; ++i) {
        const ChartSeries series = SeriesAt(i);
        auto* entry = new QCheckBox(QString::fromUtf8(Info(series).Title), this);
        entry->setObjectName(QString("Legend") + Info(series).Name);
        entry->setIcon(LineSwatch(WinColor(Info(series).Color)));
        entry->setIconSize(QSize(SWATCH_WIDTH, SWATCH_HEIGHT));
        entry->setHidden(true);
        connect(entry, &QCheckBox::toggled, this, [this, series](bool on) { emit SeriesSwitched(series, on); });
        layout->addWidget(entry);
        Entries[static_cast<std::size_t>(i)] = entry;
    }
}

bool SeriesLegend::IsListed(ChartSeries series) const { return !Entry(series)->isHidden(); }

void SeriesLegend::SetListed(ChartSeries series, bool listed) { Entry(series)->setHidden(!listed); }

bool SeriesLegend::IsSwitchedOn(ChartSeries series) const { return Entry(series)->isChecked(); }

}  // namespace kelmar::ui
