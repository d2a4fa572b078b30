#include "ui/pictures/wmf_text_runs.h"

#include <QStringEncoder>

#include <optional>

#include "io/code_page.h"

namespace kelmar::ui {

namespace {

// The Windows-1251 byte of one character, if the code page holds it.
std::optional<char> Cp1251Byte(const QString& character) {
    const std::string byte = Utf8ToCp1251(character.toStdString());
    if (byte.size() != 1 || (byte[0] == '?' && character != "?")) return std::nullopt;
    return byte[0];
}

// The Windows-1252 byte of one character through Qt's ICU converter; none
// where Qt was built without one.
std::optional<char> Cp1252Byte(const QString& character) {
    QStringEncoder encoder("windows-1252");
    if (!encoder.isValid()) return std::nullopt;
    const QByteArray byte = encoder.encode(character);
    if (encoder.hasError() || byte.size() != 1) return std::nullopt;
    return byte[0];
}

}  // namespace

std::vector<WmfTextRun> WmfTextRuns(const QString& text) {
    // Each character's byte, and its character set; none when both code
    // pages give it the same byte (ASCII, the degree sign, "?" for a
    // character neither holds), so that it joins the run it stands in.
    struct Character {
        char byte;
        std::optional<std::uint8_t> charset;
    };
    std::vector<Character> characters;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype length = text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2 : 1;
        const QString character = text.mid(i, length);
        i += length;
        const std::optional<char> cyrillic = Cp1251Byte(character), western = Cp1252Byte(character);
        if (cyrillic && western && *cyrillic == *western)
            characters.push_back({*cyrillic, std::nullopt});
        else if (cyrillic)
            characters.push_back({*cyrillic, RUSSIAN_CHARSET});
        else if (western)
            characters.push_back({*western, ANSI_CHARSET});
        else
            characters.push_back({'?', std::nullopt});
    }
    // Characters of either set before the first that decides take its set;
    // a text of such characters only stays Windows-1251.
    std::uint8_t charset = RUSSIAN_CHARSET;
    for (const Character& c : characters)
        if (c.charset) {
            charset = *c.charset;
            break;
        }
    std::vector<WmfTextRun> runs;
    for (std::size_t i = 0; i < characters.size(); ++i) {
        charset = characters[i].charset.value_or(charset);
        if (runs.empty() || runs.back().Charset != charset)
            runs.push_back({charset, {}, static_cast<qsizetype>(i), 0});
        runs.back().Bytes.push_back(characters[i].byte);
        ++runs.back().Count;
    }
    return runs;
}

}  // namespace kelmar::ui
