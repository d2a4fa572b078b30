// A text cut into runs of one single-byte character set each.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/pictures/wmf_text_runs.h"

namespace kelmar::ui {
namespace {

std::string Shown(const std::vector<WmfTextRun>& runs) {
    std::string shown;
    for (const WmfTextRun& r : runs) {
        shown += "[" + std::to_string(r.Charset) + " from " + std::to_string(r.First) + ":";
        for (const unsigned char byte : r.Bytes) {
            char hex[8];
            std::snprintf(hex, sizeof hex, byte < 0x80 ? "%c" : "\\x%02X", byte);
            shown += hex;
        }
        shown += "]";
    }
    return shown;
}

TEST(WmfTextRuns, EachRunFitsTheCodePageOfItsCharacterSet) {
    const struct {
        const char* text;  // UTF-8
        std::vector<WmfTextRun> runs;
    } cases[] = {
        {"", {}},
        {"Tair, \u00b0C", {{RUSSIAN_CHARSET, "Tair, \xB0" "C", 0, 8}}},  // all ASCII and the degree sign: as before
        {"Temperature, \u00b0\u0421", {{RUSSIAN_CHARSET, "Temperature, \xB0\xD1", 0, 15}}},
        {"precipitation \u00d7 0.9", {{ANSI_CHARSET, "precipitation \xD7 0.9", 0, 19}}},
        {"Tsoil \u00d7 0.9, \u00b0\u0421",
         {{ANSI_CHARSET, "Tsoil \xD7 0.9, \xB0", 0, 14}, {RUSSIAN_CHARSET, "\xD1", 14, 1}}},
        // The euro sign is in both at other bytes: the first code page takes it.
        {"\u20ac 5 \u00f7 2 \u0436", {{RUSSIAN_CHARSET, "\x88 5 ", 0, 4}, {ANSI_CHARSET, "\xF7 2 ", 4, 4},
                                      {RUSSIAN_CHARSET, "\xE6", 8, 1}}},
        // In neither code page: "?", one per character (a surrogate pair is one).
        {"\u03b1 + \U0001F600", {{RUSSIAN_CHARSET, "? + ?", 0, 5}}},
        {"\u00e9\u03b1", {{ANSI_CHARSET, "\xE9?", 0, 2}}},
    };
    for (const auto& c : cases) {
        const std::vector<WmfTextRun> runs = WmfTextRuns(QString::fromUtf8(c.text));
        EXPECT_EQ(runs, c.runs) << c.text << ": " << Shown(runs) << ", wanted " << Shown(c.runs);
    }
}

}  // namespace
}  // namespace kelmar::ui
