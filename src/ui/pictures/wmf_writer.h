// The records of a standard (16-bit, not enhanced) Windows metafile, as
// bytes: a placeable header that gives the picture's size and resolution,
// the metafile header, the drawing records in the order they are written,
// and the end-of-file record. Coordinates are logical units of the
// metafile's window. The writer keeps the object table a player keeps:
// each created pen, brush or font takes the lowest free slot, and a deleted
// one frees its slot.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kelmar::ui {

// A colour as red, green and blue (a COLORREF 0x00BBGGRR in the file).
struct WmfColor {
    std::uint8_t Red = 0, Green = 0, Blue = 0;
    bool operator==(const WmfColor&) const = default;
};

struct WmfPoint {
    std::int16_t X = 0, Y = 0;
    bool operator==(const WmfPoint&) const = default;
};

struct WmfRect {
    std::int16_t Left = 0, Top = 0, Right = 0, Bottom = 0;
    bool operator==(const WmfRect&) const = default;
};

// Pen styles, end caps and joins of a logical pen.
enum WmfPenStyle : std::uint16_t {
    PS_SOLID = 0x0000,
    PS_DASH = 0x0001,
    PS_DOT = 0x0002,
    PS_DASHDOT = 0x0003,
    PS_DASHDOTDOT = 0x0004,
    PS_NULL = 0x0005,
    PS_ENDCAP_ROUND = 0x0000,
    PS_ENDCAP_SQUARE = 0x0100,
    PS_ENDCAP_FLAT = 0x0200,
    PS_JOIN_ROUND = 0x0000,
    PS_JOIN_BEVEL = 0x1000,
    PS_JOIN_MITER = 0x2000,
};

struct WmfPen {
    std::uint16_t Style = PS_SOLID;  // one WmfPenStyle line style, cap and join combined
    std::int16_t Width = 0;          // logical units; 0 is one device pixel
    WmfColor Color;
    bool operator==(const WmfPen&) const = default;
};

enum WmfBrushStyle : std::uint16_t { BS_SOLID = 0, BS_NULL = 1 };

struct WmfBrush {
    std::uint16_t Style = BS_SOLID;
    WmfColor Color;
    bool operator==(const WmfBrush&) const = default;
};

// Character sets of a logical font (its lfCharSet byte): the code page its
// text's bytes are in.
inline constexpr std::uint8_t ANSI_CHARSET = 0;       // Windows-1252, Western
inline constexpr std::uint8_t RUSSIAN_CHARSET = 204;  // Windows-1251, Cyrillic

struct WmfFont {
    std::int16_t Height = 0;      // negative: the character height (em size) in logical units
    std::int16_t Escapement = 0;  // angle of the baseline, tenths of a degree counter-clockwise
    std::int16_t Weight = 400;    // 100 (thin) .. 400 (normal) .. 700 (bold) .. 900
    bool Italic = false, Underline = false, StrikeOut = false;
    std::string FaceName;  // single-byte text; the file holds at most 31 bytes of it
    std::uint8_t Charset = RUSSIAN_CHARSET;
    bool operator==(const WmfFont&) const = default;
};

enum WmfBackgroundMode : std::uint16_t { TRANSPARENT = 1, OPAQUE = 2 };
enum WmfPolyFillMode : std::uint16_t { ALTERNATE = 1, WINDING = 2 };
// Text alignment flags: the reference point on the left end of the baseline.
enum WmfTextAlign : std::uint16_t { TA_LEFT = 0, TA_BASELINE = 24 };
enum WmfMapMode : std::uint16_t { MM_ANISOTROPIC = 8 };

class WmfWriter {
public:
    // Largest number of points (and of polygons) one record can count.
    static constexpr std::size_t MAX_POINTS = 32767;

    void SetMapMode(WmfMapMode mode);
    void SetWindowOrg(WmfPoint origin);
    void SetWindowExt(WmfPoint extent);
    void SetBkMode(WmfBackgroundMode mode);
    void SetBkColor(WmfColor color);
    void SetTextColor(WmfColor color);
    void SetTextAlign(std::uint16_t flags);
    void SetPolyFillMode(WmfPolyFillMode mode);

    // Each returns the object-table slot the new object takes.
    int CreatePenIndirect(const WmfPen& pen);
    int CreateBrushIndirect(const WmfBrush& brush);
    int CreateFontIndirect(const WmfFont& font);
    void SelectObject(int slot);
    void DeleteObject(int slot);

    // Any number of points: a longer line than one record holds goes out
    // in pieces that share their end points, and a line that starts where
    // the record before it, also a polyline, ends is joined to that record.
    // Fewer than two points draw nothing.
    void Polyline(std::span<const WmfPoint> points);
    // 2..MAX_POINTS points.
    void Polygon(std::span<const WmfPoint> points);
    // At most MAX_POINTS polygons of 2..MAX_POINTS points each.
    void PolyPolygon(std::span<const std::vector<WmfPoint>> polygons);
    void Rectangle(WmfRect rect);
    // `text` in the code page of the selected font, at most MAX_POINTS
    // bytes, and the distance from each character to the next along the
    // baseline in logical units (one per byte), so that every player puts
    // the characters where they were measured.
    void ExtTextOut(WmfPoint reference, std::string_view text, std::span<const std::int16_t> advances);

    // The whole file: placeable header with the picture's bounds in logical
    // units and the logical units per inch, metafile header, the records
    // written so far, and the end-of-file record.
    std::string Finish(WmfRect bounds, std::uint16_t unitsPerInch) const;

private:
    void Record(std::uint16_t function, std::span<const std::uint16_t> parameters);
    // Appends to the polyline record that is last, if `points` continue it.
    bool ExtendLastPolyline(std::span<const WmfPoint> points);
    int TakeSlot();

    std::string Records;
    // Where the last record starts, when it is a polyline.
    std::optional<std::size_t> LastPolyline;
    std::uint32_t LargestRecord = 0;  // 16-bit words
    std::vector<bool> SlotUsed;
};

}  // namespace kelmar::ui
