// A standard Windows metafile has no wide-text records: a text is bytes in
// the code page of the selected font's character set (the lfCharSet byte
// of its font record), which Windows and the office programs honour. So a
// text is cut into runs that each fit one single-byte code page, each with
// a font of that set: Windows-1251 (the data files' code page, Cyrillic),
// else Windows-1252 (Western: "×", "÷", accented Latin letters), whose bytes
// from 0xA0 on are those of Latin-1. A character written as text stays text
// (found by a search, in the font of its title). libwmf 0.2 ignores the
// character set: wmf2svg copies the bytes as they are, so a Western run read
// as Latin-1 is right there too, and wmf2gd draws no byte above 0x7F in
// any set, a gap where it drew "?" before.
#pragma once

#include <QString>

#include <cstdint>
#include <string>
#include <vector>

#include "ui/pictures/wmf_writer.h"

namespace kelmar::ui {

struct WmfTextRun {
    std::uint8_t Charset = RUSSIAN_CHARSET;
    std::string Bytes;              // one per character
    qsizetype First = 0, Count = 0;  // the run's characters in the text (a surrogate pair is one)
    bool operator==(const WmfTextRun&) const = default;
};

// `text` as runs of one character set each, in order: a character only
// Windows-1251 holds, or that it holds at another byte, goes in a
// Windows-1251 run; one only Windows-1252 holds in a Windows-1252 run. A
// character both hold at one byte (ASCII, the degree sign), and the "?"
// standing for a character neither holds, joins the run it is in, so a
// text of Latin letters and "×" is one Western run. A text that Windows-1251
// holds whole is one Windows-1251 run. Characters are counted as code points.
std::vector<WmfTextRun> WmfTextRuns(const QString& text);

}  // namespace kelmar::ui
