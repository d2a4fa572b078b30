#include "ui/widgets/series_legend.h"

#include <QCheckBox>
#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <QStyleOptionButton>
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

// A legend entry whose line sample is drawn as a line, where the style puts
// the icon: a picture of the chart in a vector format (PDF, SVG) then holds
// a line in the series' colour. An image of it would hold see-through
// pixels, which viewers smooth into a dark outline around a muted line.
class SwatchCheckBox : public QCheckBox {
public:
    SwatchCheckBox(const QString& text, const QColor& color, QWidget* parent)
        : QCheckBox(text, parent), Color(color) {
        // A blank icon keeps the style's room for the sample beside the box.
        QPixmap blank(SWATCH_WIDTH, SWATCH_HEIGHT);
        blank.fill(Qt::transparent);
        setIcon(blank);
        setIconSize(QSize(SWATCH_WIDTH, SWATCH_HEIGHT));
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        QCheckBox::paintEvent(event);
        QStyleOptionButton option;
        initStyleOption(&option);
        // Where the style draws a check box's icon: at the left of its
        // contents, in the middle of their height.
        const QRect contents = style()->subElementRect(QStyle::SE_CheckBoxContents, &option, this);
        const QRect icon = QStyle::alignedRect(layoutDirection(), Qt::AlignLeft | Qt::AlignVCenter, iconSize(), contents);
        QPainter painter(this);
        painter.setPen(QPen(Color, SWATCH_LINE_WIDTH));
        painter.translate(icon.topLeft());
        painter.drawLine(1, SWATCH_HEIGHT / 2, SWATCH_WIDTH - 2, SWATCH_HEIGHT / 2);
    }

private:
    QColor Color;
};

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
        auto* entry = new SwatchCheckBox(QString::fromUtf8(Info(series).Title), WinColor(Info(series).Color), this);
        entry->setObjectName(QString("Legend") + Info(series).Name);
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
