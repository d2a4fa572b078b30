#include "io/read_errors.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "io/code_page.h"

namespace kelmar {

namespace {

bool IsPrintableAscii(unsigned char byte) { return byte >= 0x20 && byte < 0x7F; }

bool IsEscaped(unsigned char byte) { return (byte < 0x20 && byte != '\t') || byte == 0x7F; }

// How many bytes from the start of a file tell its encoding: the two header
// lines of every data file fit in them.
constexpr std::size_t ENCODING_SAMPLE_BYTES = 512;

}  // namespace

std::string ShownFileText(std::string_view bytes) {
    std::string shown;
    shown.reserve(bytes.size());
    std::size_t plainFrom = 0;
    for (std::size_t i = 0; i <= bytes.size(); ++i) {
        if (i < bytes.size() && !IsEscaped(static_cast<unsigned char>(bytes[i]))) continue;
        shown += Cp1251ToUtf8(bytes.substr(plainFrom, i - plainFrom));
        plainFrom = i + 1;
        if (i == bytes.size()) break;
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(bytes[i]));
        shown += escaped;
    }
    return shown;
}

bool LooksLikeUtf16Text(std::string_view text) {
    int nuls = 0;
    bool hasAscii = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte != 0) {
            hasAscii = hasAscii || IsPrintableAscii(byte);
            continue;
        }
        ++nuls;
        const bool asciiBefore = i > 0 && IsPrintableAscii(static_cast<unsigned char>(text[i - 1]));
        const bool asciiAfter = i + 1 < text.size() && IsPrintableAscii(static_cast<unsigned char>(text[i + 1]));
        if (!asciiBefore && !asciiAfter) return false;
    }
    return nuls >= 2 && hasAscii;  // a single NUL is a stray byte, not an encoding
}

void RefuseUtf16File(std::string_view bytes, std::string_view fileName) {
    std::string_view sample = bytes;
    if (sample.starts_with("\xFF\xFE") || sample.starts_with("\xFE\xFF")) sample.remove_prefix(2);
    sample = sample.substr(0, ENCODING_SAMPLE_BYTES);
    // ASCII text in UTF-16 has a NUL in every second byte: the odd ones in
    // little-endian order, the even ones in big-endian order. Other
    // characters (Cyrillic ones) have none, so a quarter of the bytes is
    // asked for, not a half.
    std::size_t nulsAtEven = 0;
    std::size_t nulsAtOdd = 0;
    for (std::size_t i = 0; i < sample.size(); ++i)
        if (sample[i] == '\0') ++(i % 2 == 0 ? nulsAtEven : nulsAtOdd);
    const std::size_t nuls = nulsAtEven + nulsAtOdd;
    const bool utf16 = (nulsAtEven == 0 || nulsAtOdd == 0) && nuls >= 2 && nuls * 4 >= sample.size();
    if (!utf16) return;
    const std::string file = fileName.empty() ? "The file" : "The file \"" + std::string(fileName) + "\"";
    throw KelmarError(file + " looks like UTF-16 text: save it as Windows-1251 text, the encoding of the data files.");
}

std::string FileLineLocation(std::string_view fileName, int lineNumber) {
    const std::string line = "line " + std::to_string(lineNumber);
    if (fileName.empty()) return "in " + line;
    return "in \"" + std::string(fileName) + "\", " + line;
}

std::string WithLocationLine(const std::string& message, const std::string& location) {
    const std::size_t firstLineEnd = std::min(message.find('\n'), message.size());
    return message.substr(0, firstLineEnd) + "\n" + location + message.substr(firstLineEnd);
}

}  // namespace kelmar
