// The drawing of a region's map: frame and graticule, sites, colour bar,
// title and caption.
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

#include "ui/region/region_map_painter.h"

namespace kelmar::ui {

namespace {

// The frame's ground and graticule: a pale grey with white lines, against
// which the map's near-white middle colour and its yellow end still show.
const QColor FRAME_GROUND(232, 232, 232);
const QColor FRAME_EDGE(150, 150, 150);
const QColor GRATICULE(Qt::white);
const QColor DOT_EDGE(60, 60, 60);
// A site without a value: a ring of mid grey, hollow, smaller than a dot.
const QColor NO_VALUE(128, 128, 128);
const QColor INK(Qt::black);
// Colour stops along the bar: the maps' colours change slowly enough that
// 64 linear pieces match them to a level or two.
constexpr int BAR_STOPS = 64;

QColor ToQColor(const region::Rgb& rgb) { return QColor(rgb.R, rgb.G, rgb.B); }

QString Text(const std::string& text) { return QString::fromStdString(text); }

void DrawNoValueRing(QPainter& painter, const QPointF& at, double dotRadius) {
    painter.setPen(QPen(NO_VALUE, std::max(1.0, dotRadius * 0.3)));
    painter.setBrush(Qt::NoBrush);
    const double radius = std::max(2.5, dotRadius * 0.65);
    painter.drawEllipse(at, radius, radius);
}

}  // namespace

void RegionMapPainter::Paint(QPainter& painter, const QRectF& rect) const {
    const RegionMapLayout layout = Layout(rect);
    const QRectF& frame = layout.Frame;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.fillRect(rect, Qt::white);

    // The title, cut with an ellipsis where it is wider than the picture.
    painter.setFont(layout.Title);
    painter.setPen(INK);
    const QString title = Text(Data.Title.empty() ? Data.Quantity : Data.Title);
    painter.drawText(layout.TitleBox, Qt::AlignHCenter | Qt::AlignVCenter,
                     QFontMetricsF(layout.Title).elidedText(title, Qt::ElideRight, layout.TitleBox.width()));

    // The frame and graticule.
    painter.fillRect(frame, FRAME_GROUND);
    painter.setFont(layout.Text);
    const QFontMetricsF metrics(layout.Text);
    const double gap = metrics.height() * 0.3;
    QPen line(GRATICULE, 1);
    line.setCosmetic(true);
    for (double lat : region::GraticuleLines(Shown.South, Shown.North, layout.LatStep)) {
        const double y = ProjectUnwrapped(lat, Shown.West, frame).y();
        painter.setPen(line);
        painter.drawLine(QPointF(frame.left(), y), QPointF(frame.right(), y));
        painter.setPen(INK);
        const QRectF box(rect.left(), y - metrics.height() / 2, frame.left() - gap - rect.left(), metrics.height());
        painter.drawText(box, Qt::AlignRight | Qt::AlignVCenter, Text(region::LatitudeLabel(lat, layout.LatStep)));
    }
    for (double lon : region::GraticuleLines(Shown.West, Shown.East, layout.LonStep)) {
        const double x = ProjectUnwrapped(Shown.South, lon, frame).x();
        painter.setPen(line);
        painter.drawLine(QPointF(x, frame.top()), QPointF(x, frame.bottom()));
        painter.setPen(INK);
        const QString label = Text(region::LongitudeLabel(lon, layout.LonStep));
        const double half = metrics.horizontalAdvance(label) / 2 + 2;
        painter.drawText(QRectF(x - half, frame.bottom() + gap, 2 * half, metrics.height()), Qt::AlignCenter, label);
    }

    // The sites, clipped to the frame: first the rings of those without a
    // value, then the dots over them.
    painter.save();
    painter.setClipRect(frame);
    bool anyWithout = false;
    for (int pass = 0; pass < 2; ++pass)
        for (std::size_t i = 0; i < Placement.Lon.size(); ++i) {
            if (std::isnan(Placement.Lon[i])) continue;
            const QPointF at = ProjectUnwrapped(Placement.Lat[i], Placement.Lon[i], frame);
            const std::optional<region::Rgb> colour =
                i < Data.Value.size() ? Colours.ColourOf(Data.Value[i]) : std::nullopt;
            if (!colour) {
                anyWithout = true;
                if (pass == 0) DrawNoValueRing(painter, at, layout.DotRadius);
                continue;
            }
            if (pass == 0) continue;
            // An edge only on the large dots of a few sites: on small ones it
            // would outweigh the colour and look like the ring of a site
            // without a value.
            painter.setPen(layout.DotRadius >= 4.5 ? QPen(DOT_EDGE, 1) : QPen(Qt::NoPen));
            painter.setBrush(ToQColor(*colour));
            painter.drawEllipse(at, layout.DotRadius, layout.DotRadius);
        }
    painter.restore();
    QPen edge(FRAME_EDGE, 1);
    edge.setCosmetic(true);
    painter.setPen(edge);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(frame);

    // The colour bar, its ticks and labels.
    const QRectF& bar = layout.Bar;
    QLinearGradient gradient(bar.topLeft(), bar.topRight());
    for (int s = 0; s <= BAR_STOPS; ++s) {
        const double position = static_cast<double>(s) / BAR_STOPS;
        const double value = Colours.Low + position * (Colours.High - Colours.Low);
        gradient.setColorAt(position, ToQColor(*Colours.ColourOf(value)));
    }
    painter.fillRect(bar, gradient);
    painter.setPen(QPen(INK, 1));
    painter.drawRect(bar);
    const bool anyValue = std::any_of(Data.Value.begin(), Data.Value.end(), [](double v) { return std::isfinite(v); });
    const double tickLength = metrics.height() * 0.3;
    if (anyValue) {
        // As many ticks as leave two digits' room between their labels.
        for (int intervals = 10; intervals >= 1; --intervals) {
            const region::Ticks ticks = region::NiceTicks(Colours.Low, Colours.High, intervals);
            double widest = 0;
            for (double v : ticks.Values)
                widest = std::max(widest, metrics.horizontalAdvance(Text(region::TickLabel(v, ticks.Step))));
            const double room = bar.width() / std::max<double>(1.0, (Colours.High - Colours.Low) / ticks.Step);
            if (room < widest + 2 * metrics.horizontalAdvance('0') && intervals > 1) continue;
            for (double v : ticks.Values) {
                const double x = bar.left() + Colours.Position(v) * bar.width();
                painter.drawLine(QPointF(x, bar.bottom()), QPointF(x, bar.bottom() + tickLength));
                const QString label = Text(region::TickLabel(v, ticks.Step));
                const double half = metrics.horizontalAdvance(label) / 2 + 2;
                painter.drawText(QRectF(x - half, bar.bottom() + tickLength, 2 * half, metrics.height()),
                                 Qt::AlignCenter, label);
            }
            break;
        }
    }

    // The caption: what the colours are, in which units.
    QString caption = Text(Data.Quantity);
    if (!Data.Units.empty()) caption += caption.isEmpty() ? Text(Data.Units) : " (" + Text(Data.Units) + ")";
    if (!anyValue) caption += caption.isEmpty() ? QStringLiteral("no site has a value") : ": no site has a value";
    const QRectF captionBox(rect.left(), bar.bottom() + tickLength + metrics.height() + gap, rect.width(),
                            metrics.height());
    const QRectF captionText = captionBox.adjusted(gap, 0, -gap, 0);
    painter.drawText(captionText, Qt::AlignHCenter | Qt::AlignVCenter,
                     metrics.elidedText(caption, Qt::ElideRight, captionText.width()));

    // The sign of a site without a value, right of the bar.
    if (anyWithout) {
        const QPointF ring(bar.right() + metrics.height() * 1.5, bar.center().y());
        DrawNoValueRing(painter, ring, layout.DotRadius);
        painter.setPen(INK);
        painter.drawText(QPointF(ring.x() + layout.DotRadius + gap, bar.center().y() + metrics.ascent() / 2 - 1),
                         QStringLiteral("no value"));
    }
    painter.restore();
}

}  // namespace kelmar::ui
