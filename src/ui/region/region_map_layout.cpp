// Where the parts of a region's map go in its rectangle, and the projection
// between degrees and pixels.
#include <QFontMetricsF>
#include <QGuiApplication>

#include <algorithm>
#include <cmath>

#include "ui/region/region_map_painter.h"

namespace kelmar::ui {

namespace {

QFont FontOfPixels(int pixels, bool bold) {
    QFont font = QGuiApplication::font();
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

// The widest label a graticule step gives, for the room beside the frame.
double WidestLabel(const QFontMetricsF& metrics, double step, bool latitude) {
    const std::string text = latitude ? region::LatitudeLabel(-88.8888, step) : region::LongitudeLabel(-178.8888, step);
    return metrics.horizontalAdvance(QString::fromStdString(text));
}

}  // namespace

RegionMapPainter::RegionMapPainter(region::RegionMap map)
    : Data(std::move(map)), Colours(region::ScaleOf(Data.Value, Data.Diverging)),
      Placement(region::PlaceSites(Data)), Full(region::FullView(Placement)), Shown(Full) {}

bool RegionMapPainter::SetView(const region::MapView& view) {
    if (!(view.West < view.East && view.South < view.North) || !std::isfinite(view.East - view.West) ||
        !std::isfinite(view.North - view.South))
        return false;
    Shown = view;
    return true;
}

RegionMapLayout RegionMapPainter::Layout(const QRectF& rect) const {
    RegionMapLayout layout;
    const double width = rect.width(), height = rect.height();
    // Text of 12 pixels at 600 x 400, 18 at 1200 x 800 and above; never
    // under 11, below which labels stop being legible on screen.
    const int text = static_cast<int>(std::clamp(std::lround(std::min(width / 50, height / 33)), 11L, 18L));
    layout.Text = FontOfPixels(text, false);
    layout.Title = FontOfPixels(static_cast<int>(std::lround(text * 1.25)), true);
    const QFontMetricsF metrics(layout.Text), titleMetrics(layout.Title);
    const double pad = text * 0.8;
    layout.TitleBox =
        QRectF(rect.left() + pad, rect.top() + pad, std::max(0.0, width - 2 * pad), titleMetrics.height());

    // Beneath: the bar, its tick marks and labels, the caption.
    const double barHeight = text;
    const double below = barHeight + text * 0.35 + metrics.height() + text * 0.3 + metrics.height();
    const double barTop = rect.bottom() - pad - below;

    // The frame keeps the view's proportions (a degree of longitude XScale
    // as wide as one of latitude) in the room left by the labels: the
    // latitudes' to its left, the longitudes' below it.
    const double lonSpan = Shown.East - Shown.West, latSpan = Shown.North - Shown.South;
    const double aspect = lonSpan * Placement.XScale / latSpan;
    const auto fit = [&](double latLabelWidth, double lonLabelWidth) {
        const QRectF room(QPointF(rect.left() + pad + latLabelWidth + text * 0.4, layout.TitleBox.bottom() + pad),
                          QPointF(rect.right() - pad - lonLabelWidth / 2,
                                  barTop - pad - metrics.height() - text * 0.3));
        QSizeF size(room.width(), room.width() / aspect);
        if (size.height() > room.height()) size = QSizeF(room.height() * aspect, room.height());
        size = size.expandedTo(QSizeF(1, 1));
        return QRectF(room.center().x() - size.width() / 2, room.center().y() - size.height() / 2, size.width(),
                      size.height());
    };
    // Twice: the labels' widths depend on the steps, the steps on the frame.
    layout.Frame = fit(WidestLabel(metrics, 1, true), WidestLabel(metrics, 1, false));
    for (int pass = 0; pass < 2; ++pass) {
        const int latLines = std::max(2, static_cast<int>(layout.Frame.height() / (text * 3)));
        layout.LatStep = region::GraticuleStep(latSpan, latLines);
        const double lonLabel = WidestLabel(metrics, 1, false) + text * 1.5;
        const int lonLines = std::max(2, static_cast<int>(layout.Frame.width() / lonLabel));
        layout.LonStep = region::GraticuleStep(lonSpan, lonLines);
        layout.Frame = fit(WidestLabel(metrics, layout.LatStep, true), WidestLabel(metrics, layout.LonStep, false));
    }

    // Dots as large as the text's x-height where sites are few, smaller
    // where they crowd: about a third of the distance between evenly spread
    // sites, never below 2.5 pixels.
    std::size_t placed = 0;
    for (double lon : Placement.Lon) placed += std::isnan(lon) ? 0 : 1;
    const double area = layout.Frame.width() * layout.Frame.height();
    const double spacing = std::sqrt(area / static_cast<double>(std::max<std::size_t>(placed, 1)));
    layout.DotRadius = std::clamp(spacing * 0.3, 2.5, text * 0.45);

    // The bar: under the frame's centre, half the picture wide, leaving room
    // on its right for the sign of a site without a value.
    const double barWidth = std::min(width * 0.5, width - 2 * pad - metrics.horizontalAdvance("no value") - 4 * text);
    const double barLeft = std::clamp(layout.Frame.center().x() - barWidth / 2, rect.left() + pad,
                                      rect.right() - pad - barWidth);
    layout.Bar = QRectF(barLeft, barTop, std::max(1.0, barWidth), barHeight);
    return layout;
}

QPointF RegionMapPainter::ProjectUnwrapped(double lat, double lon, const QRectF& frame) const {
    return {frame.left() + (lon - Shown.West) / (Shown.East - Shown.West) * frame.width(),
            frame.top() + (Shown.North - lat) / (Shown.North - Shown.South) * frame.height()};
}

QPointF RegionMapPainter::Project(double lat, double lon, const QRectF& rect) const {
    return ProjectUnwrapped(lat, Placement.Unwrapped(lon), Layout(rect).Frame);
}

QPointF RegionMapPainter::Unproject(const QPointF& pixel, const QRectF& rect) const {
    const QRectF frame = Layout(rect).Frame;
    return {Shown.West + (pixel.x() - frame.left()) / frame.width() * (Shown.East - Shown.West),
            Shown.North - (pixel.y() - frame.top()) / frame.height() * (Shown.North - Shown.South)};
}

std::optional<QPointF> RegionMapPainter::SitePixel(std::size_t index, const QRectF& rect) const {
    if (index >= Placement.Lon.size() || std::isnan(Placement.Lon[index])) return std::nullopt;
    return ProjectUnwrapped(Placement.Lat[index], Placement.Lon[index], Layout(rect).Frame);
}

std::optional<std::size_t> RegionMapPainter::SiteAt(const QPointF& pixel, const QRectF& rect) const {
    const RegionMapLayout layout = Layout(rect);
    // A click a few pixels off a small dot still finds it.
    const double reach = layout.DotRadius + 4;
    if (!layout.Frame.adjusted(-reach, -reach, reach, reach).contains(pixel)) return std::nullopt;
    std::optional<std::size_t> nearest;
    double best = reach * reach;
    for (std::size_t i = 0; i < Placement.Lon.size(); ++i) {
        if (std::isnan(Placement.Lon[i])) continue;
        const QPointF at = ProjectUnwrapped(Placement.Lat[i], Placement.Lon[i], layout.Frame);
        if (!layout.Frame.contains(at)) continue;
        const QPointF d = at - pixel;
        const double squared = d.x() * d.x() + d.y() * d.y();
        if (squared <= best) {
            best = squared;
            nearest = i;
        }
    }
    return nearest;
}

}  // namespace kelmar::ui
