#include "app/batch/list_faults.h"

#include <cstdio>

#include "io/number_text.h"

namespace kelmar::batch {

namespace {

bool IsControl(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

// The length of the well-formed UTF-8 sequence at text[i], 0 when there is
// none (RFC 3629, table 3-7 of the Unicode standard). Written out here: a
// handful of lines, where a library would add a dependency for one check.
std::size_t Utf8Length(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0; };
    const unsigned char lead = byte(0);
    const auto tail = [&](std::size_t k) { return (byte(k) & 0xC0) == 0x80; };
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return tail(1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        const unsigned char second = byte(1);
        const bool sound = lead == 0xE0   ? second >= 0xA0   // overlong below
                           : lead == 0xED ? second < 0xA0    // surrogates above
                                          : true;
        return sound && tail(1) && tail(2) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const unsigned char second = byte(1);
        const bool sound = lead == 0xF0 ? second >= 0x90 : lead == 0xF4 ? second < 0x90 : true;
        return sound && tail(1) && tail(2) && tail(3) ? 4 : 0;
    }
    return 0;
}

}  // namespace

bool IsUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = Utf8Length(text, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

void RefuseBareCarriageReturn(std::string_view headerField) {
    if (headerField.find('\r') == std::string_view::npos) return;
    throw KelmarError("The header runs into the rows (\"" + ShownListText(headerField) +
                      "\"): the list's lines end with a carriage return alone. Save it with LF or CR LF line ends "
                      "(\"CSV UTF-8\" in a spreadsheet).");
}

double ListReal(std::string_view text) {
    try {
        return ParseReal(text);
    } catch (const KelmarError&) {
        std::string message = INVALID_REAL_MESSAGE;
        message.replace(message.find("%s"), 2, ShownListText(text));
        throw KelmarError(message);
    }
}

std::string ShownListText(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = Utf8Length(text, i);
        const auto byte = static_cast<unsigned char>(text[i]);
        if (length == 0 || (length == 1 && IsControl(byte) && byte != '\t')) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            shown += escaped;
            ++i;
            continue;
        }
        shown.append(text.substr(i, length));
        i += length;
    }
    return shown;
}

void CheckListLabel(std::string_view text, const std::string& what) {
    for (const char c : text)
        if (IsControl(static_cast<unsigned char>(c)))
            throw KelmarError("The " + what + " \"" + ShownListText(text) +
                              "\" holds a line end or another control character.");
    if (!IsUtf8(text))
        throw KelmarError("The " + what + " \"" + ShownListText(text) +
                          "\" is not UTF-8 text, the encoding of the lists and of every output.\n"
                          "Save the list as UTF-8 (a spreadsheet's \"CSV UTF-8\"); a list saved in Windows-1251 "
                          "would make the outputs unreadable.");
}

void RefuseUtf16List(std::string_view head, const std::string& kind, const std::string& fileName) {
    try {
        RefuseUtf16File(head, fileName);
    } catch (const KelmarError&) {
        throw KelmarError(WithLocationLine("The " + kind + " \"" + fileName + "\" looks like UTF-16 text.",
                                           FileLineLocation(fileName, 1)) +
                          "\nSave it as UTF-8 text, the encoding of the lists.");
    }
}

}  // namespace kelmar::batch
