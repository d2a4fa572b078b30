#include "io/code_page.h"

#include <array>
#include <cstdint>

namespace kelmar {

namespace {

// Stands for the unassigned byte 0x98 and for malformed UTF-8; never a code point.
constexpr char32_t NO_CHARACTER = 0xFFFFFFFF;

// Code points of bytes 0x80..0xBF; 0xC0..0xFF are U+0410..U+044F in order.
constexpr std::array<char32_t, 64> HIGH_BYTES = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 0x88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    NO_CHARACTER, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 0x98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // 0xA0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // 0xA8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // 0xB0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // 0xB8
};

constexpr char32_t CYRILLIC_CAPITAL_A = 0x0410;  // byte 0xC0
constexpr char32_t CYRILLIC_SMALL_YA = 0x044F;   // byte 0xFF

char32_t CodePoint(unsigned char byte) {
    if (byte < 0x80) return byte;
    if (byte >= 0xC0) return CYRILLIC_CAPITAL_A + (byte - 0xC0);
    return HIGH_BYTES[byte - 0x80];
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

char ByteOf(char32_t c) {
    if (c < 0x80) return static_cast<char>(c);
    if (c == NO_CHARACTER) return '?';
    if (c >= CYRILLIC_CAPITAL_A && c <= CYRILLIC_SMALL_YA) return static_cast<char>(0xC0 + (c - CYRILLIC_CAPITAL_A));
    for (std::size_t i = 0; i < HIGH_BYTES.size(); ++i)
        if (HIGH_BYTES[i] == c) return static_cast<char>(0x80 + i);
    return '?';
}

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Decodes one UTF-8 sequence at text[i] and advances i past it. A malformed
// or overlong sequence yields NO_CHARACTER and advances by one byte.
char32_t DecodeUtf8(std::string_view text, std::size_t& i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const int length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
    if (length == 1) {
        ++i;
        return lead;
    }
    constexpr char32_t SMALLEST[5] = {0, 0, 0x80, 0x800, 0x10000};  // below these a sequence is overlong
    char32_t c = lead & (0x7Fu >> length);
    bool valid = length > 0 && i + length <= text.size();
    for (int k = 1; valid && k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        valid = IsContinuation(next);
        c = (c << 6) | (next & 0x3Fu);
    }
    if (!valid || c < SMALLEST[length] || c > 0x10FFFF) {
        ++i;
        return NO_CHARACTER;
    }
    i += length;
    return c;
}

}  // namespace

std::string Cp1251ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char b : bytes) {
        const char32_t c = CodePoint(static_cast<unsigned char>(b));
        AppendUtf8(out, c == NO_CHARACTER ? U'?' : c);
    }
    return out;
}

std::string Utf8ToCp1251(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) out += ByteOf(DecodeUtf8(text, i));
    return out;
}

}  // namespace kelmar
