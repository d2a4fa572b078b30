// Turns what Qt paints into the records of a standard Windows metafile:
// pens, brushes and fonts become logical objects, lines polylines, filled
// shapes polygons and rectangles, curves and paths their flattened outlines,
// and text ExtTextOut records in the single-byte code page with the
// character positions Qt laid out, and small images (icons, a legend's line
// samples) areas of their pixels' colours; larger images are left out.
// Lines and areas are cut to the painter's clip here (players differ in how
// far they honour a clip); a text is left out when it starts outside the
// clip and is otherwise drawn whole.
//
// Device pixels become logical units by a whole factor, so that positions
// keep a fraction of a pixel within the 16-bit coordinates of the format.
#pragma once

#include <QBrush>
#include <QColor>
#include <QPaintEngine>
#include <QPen>
#include <QRectF>
#include <QSize>
#include <QTransform>

#include <optional>
#include <string>
#include <vector>

#include "ui/pictures/wmf_writer.h"

namespace kelmar::ui {

// An object selected in a metafile, and its slot in the object table.
template <typename GdiObject>
struct SelectedObject {
    int Slot = -1;
    GdiObject Object{};
};

class WmfPaintEngine : public QPaintEngine {
public:
    // A picture of `pixelSize` device pixels at `dotsPerInch`.
    WmfPaintEngine(QSize pixelSize, int dotsPerInch);

    bool begin(QPaintDevice* device) override;
    bool end() override;
    void updateState(const QPaintEngineState& painterState) override;
    void drawPath(const QPainterPath& path) override;
    void drawPolygon(const QPointF* points, int pointCount, PolygonDrawMode mode) override;
    void drawRects(const QRectF* rects, int rectCount) override;
    void drawTextItem(const QPointF& position, const QTextItem& textItem) override;
    void drawPixmap(const QRectF& target, const QPixmap& pixmap, const QRectF& source) override;
    Type type() const override { return QPaintEngine::User; }

    // The file, finished when painting has ended.
    const std::string& Bytes() const { return File; }
    // True when an area had more corners, or a text more characters, than
    // one record can count; the file is then left empty.
    bool Overflowed() const { return OverLimit; }

private:
    // What the file has selected and set so far; empty until it sets it.
    struct DcState {
        std::optional<SelectedObject<WmfPen>> Pen;
        std::optional<SelectedObject<WmfBrush>> Brush;
        std::optional<SelectedObject<WmfFont>> Font;
        std::optional<WmfColor> TextColor;
        std::optional<WmfBackgroundMode> BkMode;
        std::optional<WmfColor> BkColor;
        std::optional<WmfPolyFillMode> FillMode;
    };

    // Device pixels to logical units.
    WmfPoint Logical(const QPointF& device) const;
    std::vector<WmfPoint> Logical(const QPolygonF& device) const;
    // The picture, the part being painted (a widget among others) and the
    // painter's clip, as one rectangle in device pixels.
    QRectF ClipNow() const;
    // How much the painter's transform enlarges lengths.
    double TransformScale() const;

    // Drawing in device pixels, cut to the clip.
    void DrawLine(const QPolygonF& line);
    void DrawPolygonArea(const QPolygonF& area, Qt::FillRule rule);
    // Fills `areas` as one (holes kept by `rule`) and draws `outlines`.
    void DrawAreas(const QList<QPolygonF>& areas, Qt::FillRule rule, const QList<QPolygonF>& outlines);
    // Fills `area` with `brush`, without outline.
    void FillArea(const QPolygonF& area, const WmfBrush& brush);
    // False, and the picture spoilt, when a record cannot count `count` items.
    bool Countable(std::size_t count);

    // Bring the background and the objects of the file to what Qt paints with now.
    void PrepareLine();
    void PrepareArea(bool outlined, Qt::FillRule rule);
    void PrepareText(const QFont& font, std::uint8_t charset);
    void PrepareBackground();
    // Creates and selects `wanted` unless it is selected, deleting the object it replaces.
    template <typename GdiObject>
    void Use(std::optional<SelectedObject<GdiObject>>& now, const GdiObject& wanted,
             int (WmfWriter::*create)(const GdiObject&)) {
        if (now && now->Object == wanted) return;
        const int slot = (Writer.*create)(wanted);
        Writer.SelectObject(slot);
        if (now) Writer.DeleteObject(now->Slot);
        now = SelectedObject<GdiObject>{slot, wanted};
    }
    void UsePen(const WmfPen& pen);
    void UseBrush(const WmfBrush& brush);
    WmfPen PenNow() const;
    WmfBrush BrushNow() const;
    WmfFont FontNow(const QFont& font, std::uint8_t charset) const;
    std::vector<double> CharacterEnds(const QString& text, const QFont& font) const;
    std::vector<std::int16_t> Advances(const std::vector<double>& ends) const;

    QSize PixelSize;
    int DotsPerInch;
    int UnitsPerPixel;
    WmfWriter Writer;
    std::string File;
    bool OverLimit = false;

    QTransform Transform;
    QPen Pen;
    QBrush Brush;
    Qt::BGMode BackgroundMode = Qt::TransparentMode;
    QColor BackgroundColor = Qt::white;
    DcState Dc;
};

}  // namespace kelmar::ui
