#include "ui/pictures/wmf_writer.h"

#include <algorithm>
#include <array>

namespace kelmar::ui {

namespace {

// Record functions.
constexpr std::uint16_t META_EOF = 0x0000;
constexpr std::uint16_t META_SETBKMODE = 0x0102;
constexpr std::uint16_t META_SETMAPMODE = 0x0103;
constexpr std::uint16_t META_SETPOLYFILLMODE = 0x0106;
constexpr std::uint16_t META_SELECTOBJECT = 0x012D;
constexpr std::uint16_t META_SETTEXTALIGN = 0x012E;
constexpr std::uint16_t META_DELETEOBJECT = 0x01F0;
constexpr std::uint16_t META_SETBKCOLOR = 0x0201;
constexpr std::uint16_t META_SETTEXTCOLOR = 0x0209;
constexpr std::uint16_t META_SETWINDOWORG = 0x020B;
constexpr std::uint16_t META_SETWINDOWEXT = 0x020C;
constexpr std::uint16_t META_CREATEPENINDIRECT = 0x02FA;
constexpr std::uint16_t META_CREATEFONTINDIRECT = 0x02FB;
constexpr std::uint16_t META_CREATEBRUSHINDIRECT = 0x02FC;
constexpr std::uint16_t META_POLYGON = 0x0324;
constexpr std::uint16_t META_POLYLINE = 0x0325;
constexpr std::uint16_t META_RECTANGLE = 0x041B;
constexpr std::uint16_t META_POLYPOLYGON = 0x0538;
constexpr std::uint16_t META_EXTTEXTOUT = 0x0A32;

// Placeable header: its key, and its size in 16-bit words before the checksum.
constexpr std::uint32_t PLACEABLE_KEY = 0x9AC6CDD7;
constexpr std::size_t PLACEABLE_WORDS = 10;
// Metafile header: a metafile in memory (type 1), 9 words long, version 3.0.
constexpr std::uint16_t MEMORY_METAFILE = 1;
constexpr std::uint16_t HEADER_WORDS = 9;
constexpr std::uint16_t METAFILE_VERSION = 0x0300;
// A record's size (two words) and function (one word) come before its parameters.
constexpr std::uint32_t RECORD_HEAD_WORDS = 3;
// The face name of a logical font is a fixed field of 32 bytes, NUL included.
constexpr std::size_t FACE_NAME_BYTES = 32;
constexpr std::uint16_t BS_HATCH_UNUSED = 0;

std::uint16_t Word(std::int16_t value) { return static_cast<std::uint16_t>(value); }
std::uint16_t Word(std::size_t value) { return static_cast<std::uint16_t>(value); }
std::uint16_t LowWord(std::uint32_t value) { return static_cast<std::uint16_t>(value & 0xFFFFu); }
std::uint16_t HighWord(std::uint32_t value) { return static_cast<std::uint16_t>(value >> 16); }
std::uint16_t BytePair(std::uint8_t low, std::uint8_t high) {
    return static_cast<std::uint16_t>(low | (high << 8));
}

void AppendWord(std::string& bytes, std::uint16_t word) {
    bytes.push_back(static_cast<char>(word & 0xFFu));
    bytes.push_back(static_cast<char>(word >> 8));
}

std::uint16_t ReadWord(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                      (static_cast<unsigned char>(bytes[at + 1]) << 8));
}

void WriteWord(std::string& bytes, std::size_t at, std::uint16_t word) {
    bytes[at] = static_cast<char>(word & 0xFFu);
    bytes[at + 1] = static_cast<char>(word >> 8);
}

// A COLORREF as two words: red and green, then blue and a zero byte.
void AppendColor(std::vector<std::uint16_t>& words, WmfColor color) {
    words.push_back(BytePair(color.Red, color.Green));
    words.push_back(BytePair(color.Blue, 0));
}

// Bytes packed two to a word, the last word padded with a zero byte.
void AppendBytes(std::vector<std::uint16_t>& words, std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        const auto low = static_cast<std::uint8_t>(bytes[i]);
        const auto high = i + 1 < bytes.size() ? static_cast<std::uint8_t>(bytes[i + 1]) : std::uint8_t{0};
        words.push_back(BytePair(low, high));
    }
}

void AppendPoints(std::vector<std::uint16_t>& words, std::span<const WmfPoint> points) {
    for (const WmfPoint& p : points) {
        words.push_back(Word(p.X));
        words.push_back(Word(p.Y));
    }
}

}  // namespace

void WmfWriter::Record(std::uint16_t function, std::span<const std::uint16_t> parameters) {
    LastPolyline.reset();
    const auto size = static_cast<std::uint32_t>(RECORD_HEAD_WORDS + parameters.size());
    LargestRecord = std::max(LargestRecord, size);
    AppendWord(Records, LowWord(size));
    AppendWord(Records, HighWord(size));
    AppendWord(Records, function);
    for (std::uint16_t word : parameters) AppendWord(Records, word);
}

void WmfWriter::SetMapMode(WmfMapMode mode) { Record(META_SETMAPMODE, std::array{std::uint16_t{mode}}); }

// Window origin and extent are stored y first.
void WmfWriter::SetWindowOrg(WmfPoint origin) {
    Record(META_SETWINDOWORG, std::array{Word(origin.Y), Word(origin.X)});
}

void WmfWriter::SetWindowExt(WmfPoint extent) {
    Record(META_SETWINDOWEXT, std::array{Word(extent.Y), Word(extent.X)});
}

void WmfWriter::SetBkMode(WmfBackgroundMode mode) { Record(META_SETBKMODE, std::array{std::uint16_t{mode}}); }

void WmfWriter::SetBkColor(WmfColor color) {
    std::vector<std::uint16_t> words;
    AppendColor(words, color);
    Record(META_SETBKCOLOR, words);
}

void WmfWriter::SetTextColor(WmfColor color) {
    std::vector<std::uint16_t> words;
    AppendColor(words, color);
    Record(META_SETTEXTCOLOR, words);
}

void WmfWriter::SetTextAlign(std::uint16_t flags) { Record(META_SETTEXTALIGN, std::array{flags}); }

void WmfWriter::SetPolyFillMode(WmfPolyFillMode mode) {
    Record(META_SETPOLYFILLMODE, std::array{std::uint16_t{mode}});
}

int WmfWriter::TakeSlot() {
    const auto free = std::find(SlotUsed.begin(), SlotUsed.end(), false);
    const auto slot = static_cast<int>(free - SlotUsed.begin());
    if (free == SlotUsed.end()) {
        SlotUsed.push_back(true);
    } else {
        *free = true;
    }
    return slot;
}

int WmfWriter::CreatePenIndirect(const WmfPen& pen) {
    // The pen's width is a point whose y is unused.
    std::vector<std::uint16_t> words{pen.Style, Word(pen.Width), 0};
    AppendColor(words, pen.Color);
    Record(META_CREATEPENINDIRECT, words);
    return TakeSlot();
}

int WmfWriter::CreateBrushIndirect(const WmfBrush& brush) {
    std::vector<std::uint16_t> words{brush.Style};
    AppendColor(words, brush.Color);
    words.push_back(BS_HATCH_UNUSED);
    Record(META_CREATEBRUSHINDIRECT, words);
    return TakeSlot();
}

int WmfWriter::CreateFontIndirect(const WmfFont& font) {
    constexpr std::uint8_t DEFAULT_PRECISION = 0, DEFAULT_QUALITY = 0, DEFAULT_PITCH = 0;
    // Width 0 lets the player choose the width that suits the height; the
    // characters turn with the baseline (orientation = escapement).
    std::vector<std::uint16_t> words{Word(font.Height), 0, Word(font.Escapement), Word(font.Escapement),
                                     Word(font.Weight),
                                     BytePair(font.Italic, font.Underline),
                                     BytePair(font.StrikeOut, font.Charset),
                                     BytePair(DEFAULT_PRECISION, DEFAULT_PRECISION),
                                     BytePair(DEFAULT_QUALITY, DEFAULT_PITCH)};
    std::string face = font.FaceName.substr(0, FACE_NAME_BYTES - 1);
    face.resize(FACE_NAME_BYTES, '\0');
    AppendBytes(words, face);
    Record(META_CREATEFONTINDIRECT, words);
    return TakeSlot();
}

void WmfWriter::SelectObject(int slot) { Record(META_SELECTOBJECT, std::array{Word(static_cast<std::size_t>(slot))}); }

void WmfWriter::DeleteObject(int slot) {
    Record(META_DELETEOBJECT, std::array{Word(static_cast<std::size_t>(slot))});
    SlotUsed[static_cast<std::size_t>(slot)] = false;
}

void WmfWriter::Polyline(std::span<const WmfPoint> points) {
    if (points.size() < 2 || ExtendLastPolyline(points)) return;
    for (std::size_t first = 0; first + 1 < points.size(); first += MAX_POINTS - 1) {
        const std::span<const WmfPoint> piece = points.subspan(first, std::min(MAX_POINTS, points.size() - first));
        std::vector<std::uint16_t> words{Word(piece.size())};
        AppendPoints(words, piece);
        const std::size_t start = Records.size();
        Record(META_POLYLINE, words);
        LastPolyline = start;
    }
}

bool WmfWriter::ExtendLastPolyline(std::span<const WmfPoint> points) {
    if (!LastPolyline) return false;
    // The record: size (2 words), function, point count, points.
    const std::size_t countAt = *LastPolyline + 6;
    const std::size_t count = ReadWord(Records, countAt);
    const std::size_t lastAt = Records.size() - 4;
    const WmfPoint last{static_cast<std::int16_t>(ReadWord(Records, lastAt)),
                        static_cast<std::int16_t>(ReadWord(Records, lastAt + 2))};
    if (last != points.front() || count + points.size() - 1 > MAX_POINTS) return false;
    std::vector<std::uint16_t> words;
    AppendPoints(words, points.subspan(1));
    for (std::uint16_t word : words) AppendWord(Records, word);
    const auto size = static_cast<std::uint32_t>((Records.size() - *LastPolyline) / 2);
    WriteWord(Records, *LastPolyline, LowWord(size));
    WriteWord(Records, *LastPolyline + 2, HighWord(size));
    WriteWord(Records, countAt, Word(count + points.size() - 1));
    LargestRecord = std::max(LargestRecord, size);
    return true;
}

void WmfWriter::Polygon(std::span<const WmfPoint> points) {
    std::vector<std::uint16_t> words{Word(points.size())};
    AppendPoints(words, points);
    Record(META_POLYGON, words);
}

void WmfWriter::PolyPolygon(std::span<const std::vector<WmfPoint>> polygons) {
    std::vector<std::uint16_t> words{Word(polygons.size())};
    for (const auto& polygon : polygons) words.push_back(Word(polygon.size()));
    for (const auto& polygon : polygons) AppendPoints(words, polygon);
    Record(META_POLYPOLYGON, words);
}

// Stored bottom, right, top, left.
void WmfWriter::Rectangle(WmfRect rect) {
    Record(META_RECTANGLE, std::array{Word(rect.Bottom), Word(rect.Right), Word(rect.Top), Word(rect.Left)});
}

void WmfWriter::ExtTextOut(WmfPoint reference, std::string_view text, std::span<const std::int16_t> advances) {
    constexpr std::uint16_t NO_OPTIONS = 0;  // neither clipped nor opaque: no rectangle follows
    std::vector<std::uint16_t> words{Word(reference.Y), Word(reference.X), Word(text.size()), NO_OPTIONS};
    AppendBytes(words, text);
    for (std::int16_t advance : advances) words.push_back(Word(advance));
    Record(META_EXTTEXTOUT, words);
}

std::string WmfWriter::Finish(WmfRect bounds, std::uint16_t unitsPerInch) const {
    const std::array<std::uint16_t, PLACEABLE_WORDS> placeable{
        LowWord(PLACEABLE_KEY), HighWord(PLACEABLE_KEY), 0,  // no handle
        Word(bounds.Left), Word(bounds.Top), Word(bounds.Right), Word(bounds.Bottom),
        unitsPerInch, 0, 0};  // reserved
    std::uint16_t checksum = 0;
    for (std::uint16_t word : placeable) checksum ^= word;

    const std::uint32_t totalWords =
        HEADER_WORDS + static_cast<std::uint32_t>(Records.size() / 2) + RECORD_HEAD_WORDS;
    const std::uint32_t largest = std::max(LargestRecord, RECORD_HEAD_WORDS);
    const std::array<std::uint16_t, HEADER_WORDS> header{
        MEMORY_METAFILE, HEADER_WORDS, METAFILE_VERSION,
        LowWord(totalWords), HighWord(totalWords),
        Word(SlotUsed.size()),  // the table never held more objects than it has slots
        LowWord(largest), HighWord(largest),
        0};  // no members

    std::string file;
    for (std::uint16_t word : placeable) AppendWord(file, word);
    AppendWord(file, checksum);
    for (std::uint16_t word : header) AppendWord(file, word);
    file += Records;
    AppendWord(file, LowWord(RECORD_HEAD_WORDS));
    AppendWord(file, HighWord(RECORD_HEAD_WORDS));
    AppendWord(file, META_EOF);
    return file;
}

}  // namespace kelmar::ui
