#include "ui/pictures/wmf_paint_engine.h"

#include <QFontInfo>
#include <QPainter>
#include <QImage>
#include <QPainterPath>
#include <QPixmap>
#include <QTextItem>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <span>

#include "io/code_page.h"
#include "ui/pictures/rect_clipping.h"
#include "ui/pictures/wmf_text_runs.h"

namespace kelmar::ui {

namespace {

// Half the 16-bit coordinate range: room for pen widths and texts that
// reach past the picture's edge.
constexpr int MAX_LOGICAL_EXTENT = 16384;
// Sixteenths of a pixel are finer than any player draws.
constexpr int MAX_UNITS_PER_PIXEL = 16;
// The placeable header counts logical units per inch in 16 bits.
constexpr int MAX_UNITS_PER_INCH = std::numeric_limits<std::uint16_t>::max();
constexpr double POINTS_PER_INCH = 72;
// Images up to this many pixels (icons, legend line samples) are drawn.
constexpr qint64 MAX_IMAGE_PIXELS = 128 * 128;
// Escapements are tenths of a degree.
constexpr double TENTHS_PER_DEGREE = 10;

int UnitsPerPixelFor(QSize pixelSize, int dotsPerInch) {
    const int longest = std::max({pixelSize.width(), pixelSize.height(), 1});
    const int fitting = std::min(MAX_LOGICAL_EXTENT / longest, MAX_UNITS_PER_INCH / std::max(dotsPerInch, 1));
    return std::clamp(fitting, 1, MAX_UNITS_PER_PIXEL);
}

// A logical coordinate, held within the 16-bit range; a position that is no
// number lands on the origin.
std::int16_t Coordinate(double value) {
    if (std::isnan(value)) return 0;
    constexpr double LOW = std::numeric_limits<std::int16_t>::min();
    constexpr double HIGH = std::numeric_limits<std::int16_t>::max();
    return static_cast<std::int16_t>(std::lround(std::clamp(value, LOW, HIGH)));
}

// A colour standing for the whole brush: a gradient's stops averaged.
QColor ColorOf(const QBrush& brush) {
    const QGradient* gradient = brush.gradient();
    if (gradient == nullptr || gradient->stops().isEmpty()) return brush.color();
    double red = 0, green = 0, blue = 0, alpha = 0;
    for (const QGradientStop& stop : gradient->stops()) {
        red += stop.second.redF();
        green += stop.second.greenF();
        blue += stop.second.blueF();
        alpha += stop.second.alphaF();
    }
    const auto count = static_cast<double>(gradient->stops().size());
    return QColor::fromRgbF(static_cast<float>(red / count), static_cast<float>(green / count),
                            static_cast<float>(blue / count), static_cast<float>(alpha / count));
}

WmfColor ToWmf(const QColor& color) {
    const QColor rgb = color.toRgb();
    return {static_cast<std::uint8_t>(rgb.red()), static_cast<std::uint8_t>(rgb.green()),
            static_cast<std::uint8_t>(rgb.blue())};
}

std::uint16_t LineStyle(Qt::PenStyle style) {
    switch (style) {
        case Qt::DashLine: return PS_DASH;
        case Qt::DotLine: return PS_DOT;
        case Qt::DashDotLine: return PS_DASHDOT;
        case Qt::DashDotDotLine: return PS_DASHDOTDOT;
        default: return PS_SOLID;  // solid and custom dash patterns
    }
}

std::uint16_t CapStyle(Qt::PenCapStyle cap) {
    switch (cap) {
        case Qt::FlatCap: return PS_ENDCAP_FLAT;
        case Qt::RoundCap: return PS_ENDCAP_ROUND;
        default: return PS_ENDCAP_SQUARE;
    }
}

std::uint16_t JoinStyle(Qt::PenJoinStyle join) {
    switch (join) {
        case Qt::BevelJoin: return PS_JOIN_BEVEL;
        case Qt::RoundJoin: return PS_JOIN_ROUND;
        default: return PS_JOIN_MITER;  // miter and SVG miter
    }
}

constexpr WmfPen NULL_PEN{PS_NULL, 0, {}};
constexpr WmfBrush NULL_BRUSH{BS_NULL, {}};

}  // namespace

WmfPaintEngine::WmfPaintEngine(QSize pixelSize, int dotsPerInch)
    // Every feature is taken on here, so that Qt hands over shapes, gradients
    // and transforms as they are instead of painting them into images.
    : QPaintEngine(QPaintEngine::AllFeatures),
      PixelSize(pixelSize),
      DotsPerInch(dotsPerInch),
      UnitsPerPixel(UnitsPerPixelFor(pixelSize, dotsPerInch)) {}

bool WmfPaintEngine::begin(QPaintDevice*) {
    Writer = WmfWriter{};
    File.clear();
    OverLimit = false;
    Dc = {};
    Writer.SetMapMode(MM_ANISOTROPIC);
    Writer.SetWindowOrg({0, 0});
    Writer.SetWindowExt(Logical(QPointF(PixelSize.width(), PixelSize.height())));
    Writer.SetTextAlign(TA_BASELINE | TA_LEFT);
    return true;
}

bool WmfPaintEngine::end() {
    if (!OverLimit) {
        const WmfPoint extent = Logical(QPointF(PixelSize.width(), PixelSize.height()));
        File = Writer.Finish({0, 0, extent.X, extent.Y}, static_cast<std::uint16_t>(DotsPerInch * UnitsPerPixel));
    }
    return true;
}

void WmfPaintEngine::updateState(const QPaintEngineState& painterState) {
    const DirtyFlags dirty = painterState.state();
    if (dirty & DirtyTransform) Transform = painterState.transform();
    if (dirty & DirtyPen) Pen = painterState.pen();
    if (dirty & DirtyBrush) Brush = painterState.brush();
    if (dirty & DirtyBackgroundMode) BackgroundMode = painterState.backgroundMode();
    if (dirty & DirtyBackground) BackgroundColor = ColorOf(painterState.backgroundBrush());
}

WmfPoint WmfPaintEngine::Logical(const QPointF& device) const {
    return {Coordinate(device.x() * UnitsPerPixel), Coordinate(device.y() * UnitsPerPixel)};
}

std::vector<WmfPoint> WmfPaintEngine::Logical(const QPolygonF& device) const {
    std::vector<WmfPoint> points;
    points.reserve(static_cast<std::size_t>(device.size()));
    for (const QPointF& p : device) points.push_back(Logical(p));
    return points;
}

QRectF WmfPaintEngine::ClipNow() const {
    QRectF clip(QPointF(0, 0), QSizeF(PixelSize));
    const QRegion system = systemClip();
    if (!system.isEmpty()) clip &= QRectF(system.boundingRect());
    if (painter() != nullptr && painter()->hasClipping()) clip &= Transform.mapRect(painter()->clipBoundingRect());
    return clip;
}

double WmfPaintEngine::TransformScale() const { return std::sqrt(std::abs(Transform.determinant())); }

void WmfPaintEngine::PrepareBackground() {
    const WmfBackgroundMode mode = BackgroundMode == Qt::OpaqueMode ? OPAQUE : TRANSPARENT;
    if (Dc.BkMode != mode) {
        Writer.SetBkMode(mode);
        Dc.BkMode = mode;
    }
    if (mode == OPAQUE && Dc.BkColor != ToWmf(BackgroundColor)) {
        Writer.SetBkColor(ToWmf(BackgroundColor));
        Dc.BkColor = ToWmf(BackgroundColor);
    }
}

void WmfPaintEngine::UsePen(const WmfPen& pen) {
    Use(Dc.Pen, pen, &WmfWriter::CreatePenIndirect);
}

void WmfPaintEngine::UseBrush(const WmfBrush& brush) {
    Use(Dc.Brush, brush, &WmfWriter::CreateBrushIndirect);
}

void WmfPaintEngine::PrepareLine() {
    PrepareBackground();
    UsePen(PenNow());
}

void WmfPaintEngine::PrepareArea(bool outlined, Qt::FillRule rule) {
    PrepareBackground();
    UsePen(outlined ? PenNow() : NULL_PEN);
    UseBrush(BrushNow());
    const WmfPolyFillMode mode = rule == Qt::WindingFill ? WINDING : ALTERNATE;
    if (Dc.FillMode != mode) {
        Writer.SetPolyFillMode(mode);
        Dc.FillMode = mode;
    }
}

void WmfPaintEngine::PrepareText(const QFont& font, std::uint8_t charset) {
    PrepareBackground();
    Use(Dc.Font, FontNow(font, charset), &WmfWriter::CreateFontIndirect);
    const WmfColor color = ToWmf(ColorOf(Pen.brush()));
    if (Dc.TextColor != color) {
        Writer.SetTextColor(color);
        Dc.TextColor = color;
    }
}

WmfPen WmfPaintEngine::PenNow() const {
    const QColor color = ColorOf(Pen.brush());
    if (Pen.style() == Qt::NoPen || color.alpha() == 0) return NULL_PEN;
    const double pixels = Pen.isCosmetic() ? Pen.widthF() : Pen.widthF() * TransformScale();
    return {static_cast<std::uint16_t>(LineStyle(Pen.style()) | CapStyle(Pen.capStyle()) | JoinStyle(Pen.joinStyle())),
            Coordinate(pixels * UnitsPerPixel), ToWmf(color)};
}

// Patterns and textures are filled with their colour.
WmfBrush WmfPaintEngine::BrushNow() const {
    const QColor color = ColorOf(Brush);
    if (Brush.style() == Qt::NoBrush || color.alpha() == 0) return NULL_BRUSH;
    return {BS_SOLID, ToWmf(color)};
}

WmfFont WmfPaintEngine::FontNow(const QFont& font, std::uint8_t charset) const {
    const double pixels = font.pixelSize() > 0 ? font.pixelSize() : font.pointSizeF() * DotsPerInch / POINTS_PER_INCH;
    // The baseline's angle on the page, counter-clockwise with y downwards.
    const double degrees = std::atan2(-Transform.m12(), Transform.m11()) * 180 / std::numbers::pi;
    WmfFont wmf;
    wmf.Height = Coordinate(-pixels * TransformScale() * UnitsPerPixel);
    wmf.Escapement = Coordinate(degrees * TENTHS_PER_DEGREE);
    wmf.Weight = static_cast<std::int16_t>(font.weight());
    wmf.Italic = font.italic();
    wmf.Underline = font.underline();
    wmf.StrikeOut = font.strikeOut();
    wmf.FaceName = Utf8ToCp1251(QFontInfo(font).family().toStdString());  // the face Qt drew with
    wmf.Charset = charset;
    return wmf;
}

// Where Qt lays out the end of each character of the text, in pixels from
// its start along the baseline.
std::vector<double> WmfPaintEngine::CharacterEnds(const QString& text, const QFont& font) const {
    QTextLayout layout(text, font, paintDevice());
    layout.beginLayout();
    const QTextLine line = layout.createLine();
    layout.endLayout();
    std::vector<double> ends;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isLowSurrogate() && i > 0 && text[i - 1].isHighSurrogate()) continue;  // a pair's second half
        qsizetype next = i + 1;
        if (text[i].isHighSurrogate() && next < text.size() && text[next].isLowSurrogate()) ++next;
        ends.push_back(line.cursorToX(static_cast<int>(next)));
    }
    return ends;
}

// The same as distances from one character to the next in logical units;
// each character is one byte in the file.
std::vector<std::int16_t> WmfPaintEngine::Advances(const std::vector<double>& ends) const {
    const double unitsPerPixel = TransformScale() * UnitsPerPixel;
    std::vector<std::int16_t> advances;
    double previous = 0;
    for (const double end : ends) {
        const double x = std::round(end * unitsPerPixel);
        advances.push_back(Coordinate(x - previous));
        previous = x;
    }
    return advances;
}

bool WmfPaintEngine::Countable(std::size_t count) {
    if (count > WmfWriter::MAX_POINTS) OverLimit = true;
    return !OverLimit;
}

void WmfPaintEngine::DrawLine(const QPolygonF& line) {
    const QRectF clip = ClipNow();
    if (PenNow() == NULL_PEN || clip.isEmpty()) return;
    const QList<QPolygonF> parts = ClipPolyline(line, clip);
    if (parts.isEmpty()) return;
    PrepareLine();
    for (const QPolygonF& part : parts) Writer.Polyline(Logical(part));
}

// An area inside the clip is one record, outline included.
void WmfPaintEngine::DrawPolygonArea(const QPolygonF& area, Qt::FillRule rule) {
    if (area.size() < 2) return;
    if (ClipNow().contains(area.boundingRect())) {
        if (!Countable(static_cast<std::size_t>(area.size()))) return;
        PrepareArea(true, rule);
        Writer.Polygon(Logical(area));
        return;
    }
    QPolygonF outline = area;
    if (!outline.isClosed()) outline << outline.front();
    DrawAreas({area}, rule, {outline});
}

void WmfPaintEngine::DrawAreas(const QList<QPolygonF>& areas, Qt::FillRule rule, const QList<QPolygonF>& outlines) {
    const QRectF clip = ClipNow();
    if (BrushNow() != NULL_BRUSH && !clip.isEmpty()) {
        std::vector<std::vector<WmfPoint>> parts;
        for (const QPolygonF& area : areas) {
            const QPolygonF part = ClipPolygon(area, clip);
            if (part.size() >= 3 && Countable(static_cast<std::size_t>(part.size()))) parts.push_back(Logical(part));
        }
        if (!parts.empty() && Countable(parts.size())) {
            PrepareArea(false, rule);
            if (parts.size() == 1) {
                Writer.Polygon(parts.front());
            } else {
                Writer.PolyPolygon(parts);
            }
        }
    }
    for (const QPolygonF& outline : outlines) DrawLine(outline);
}

void WmfPaintEngine::drawPolygon(const QPointF* points, int pointCount, PolygonDrawMode mode) {
    const QPolygonF device = Transform.map(QPolygonF(QList<QPointF>(points, points + pointCount)));
    if (mode == PolylineMode) {
        DrawLine(device);
    } else {
        DrawPolygonArea(device, mode == WindingMode ? Qt::WindingFill : Qt::OddEvenFill);
    }
}

// A path is filled as one area (its holes kept by the fill rule) and its
// outline drawn subpath by subpath, so that open subpaths stay open.
void WmfPaintEngine::drawPath(const QPainterPath& path) {
    const QList<QPolygonF> subpaths = path.toSubpathPolygons(Transform);
    if (subpaths.size() == 1 && subpaths.front().isClosed()) {
        DrawPolygonArea(subpaths.front(), path.fillRule());
    } else {
        DrawAreas(subpaths, path.fillRule(), subpaths);
    }
}

void WmfPaintEngine::drawRects(const QRectF* rects, int rectCount) {
    for (const QRectF& rect : std::span(rects, static_cast<std::size_t>(rectCount))) {
        const QRectF device = Transform.mapRect(rect.normalized());
        if (Transform.type() > QTransform::TxScale || !ClipNow().contains(device)) {
            DrawPolygonArea(Transform.map(QPolygonF(rect)), Qt::OddEvenFill);
            continue;
        }
        PrepareArea(true, Qt::OddEvenFill);
        const WmfPoint topLeft = Logical(device.topLeft());
        const WmfPoint bottomRight = Logical(device.bottomRight());
        Writer.Rectangle({topLeft.X, topLeft.Y, bottomRight.X, bottomRight.Y});
    }
}

// A player's font is seldom the one the text was measured with, so a text
// cut at its own box could lose its edges: texts are drawn whole.
void WmfPaintEngine::drawTextItem(const QPointF& position, const QTextItem& textItem) {
    const QString text = textItem.text();
    const std::vector<WmfTextRun> runs = WmfTextRuns(text);
    const QPointF start = Transform.map(position);
    const std::size_t characters = runs.empty() ? 0 : static_cast<std::size_t>(runs.back().First + runs.back().Count);
    if (runs.empty() || PenNow() == NULL_PEN || !ClipNow().contains(start) || !Countable(characters)) return;
    const std::vector<double> ends = CharacterEnds(text, textItem.font());
    const std::vector<std::int16_t> advances = Advances(ends);
    if (ends.size() != characters) return;  // Qt laid the text out otherwise than it was cut
    // A run of another character set needs a font of its own: it starts
    // where the characters before it end.
    for (const WmfTextRun& run : runs) {
        const auto first = static_cast<std::size_t>(run.First);
        const double along = first == 0 ? 0 : ends[first - 1];
        PrepareText(textItem.font(), run.Charset);
        Writer.ExtTextOut(Logical(Transform.map(position + QPointF(along, 0))), run.Bytes,
                          std::span(advances).subspan(first, run.Bytes.size()));
    }
}

// A small image (an icon, a legend's line sample) becomes runs of pixels
// of one colour, each a filled area: every player draws that, and see-through
// pixels stay see-through. Pixels at least half opaque are drawn opaque.
// Larger images are left out.
void WmfPaintEngine::drawPixmap(const QRectF& target, const QPixmap& pixmap, const QRectF& source) {
    const QRect pixels = source.toAlignedRect() & pixmap.rect();
    if (pixels.isEmpty() || static_cast<qint64>(pixels.width()) * pixels.height() > MAX_IMAGE_PIXELS) return;
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    const double xScale = target.width() / source.width(), yScale = target.height() / source.height();
    const auto targetX = [&](int x) { return target.left() + (x - source.left()) * xScale; };
    const auto targetY = [&](int y) { return target.top() + (y - source.top()) * yScale; };
    constexpr int HALF_OPAQUE = 128;
    for (int y = pixels.top(); y <= pixels.bottom(); ++y) {
        for (int x = pixels.left(); x <= pixels.right();) {
            const QRgb colour = image.pixel(x, y);
            int end = x + 1;
            while (end <= pixels.right() && image.pixel(end, y) == colour) ++end;
            if (qAlpha(colour) >= HALF_OPAQUE) {
                const QRectF run(QPointF(targetX(x), targetY(y)), QPointF(targetX(end), targetY(y + 1)));
                FillArea(Transform.map(QPolygonF(run)), {BS_SOLID, ToWmf(QColor(colour))});
            }
            x = end;
        }
    }
}

void WmfPaintEngine::FillArea(const QPolygonF& area, const WmfBrush& brush) {
    const QPolygonF part = ClipPolygon(area, ClipNow());
    if (part.size() < 3) return;
    PrepareBackground();
    UsePen(NULL_PEN);
    UseBrush(brush);
    Writer.Polygon(Logical(part));
}

}  // namespace kelmar::ui
