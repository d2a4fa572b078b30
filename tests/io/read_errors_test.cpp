// What the three file readers tell the user when they stop: the system's text
// on the first line, the file and line on the second; a UTF-16 file refused
// as such.
#include "io/read_errors.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "io/climatology_file.h"
#include "io/io_test_support.h"
#include "io/site_file.h"
#include "io/weather_file.h"
#include "model/model_fixtures.h"

namespace kelmar {
namespace {

using testing::ErrorText;
using testing::RecordingNotifier;
using testing::TempDir;
using testing::WriteBytes;

using namespace std::string_literals;

using FileReader = bool (*)(TModel&, const std::string&, Notifier&);

struct Reader {
    const char* Extension;
    FileReader Read;
};

const Reader SITE = {".sit", ReadSiteFile};
const Reader CLIMATOLOGY = {".cld", ReadClimatologyFile};
const Reader WEATHER = {".wed", ReadWeatherFile};

const std::string SITE_HEAD = "VAR VALUE\r\n#\r\nLat,61.8\r\n# Latitude, deg.\r\n";
const std::string CLIMATE_HEAD = "VAR VALUE\r\n#\r\nav_P,1,2,3,4,5,6,7,8,9,10,11,12\r\n# Average precipitation\r\n";
const std::string WEATHER_HEAD = "#\r\nYear,Month,Tair,Prec,Tsoil\r\n1961,1,-14.2,23.1,-2.5\r\n";

// ASCII text as UTF-16, little- or big-endian, with or without a byte-order mark.
std::string Utf16(const std::string& ascii, bool bigEndian, bool byteOrderMark) {
    std::string bytes = byteOrderMark ? (bigEndian ? "\xFE\xFF" : "\xFF\xFE") : "";
    for (char c : ascii) {
        if (bigEndian) bytes += '\0';
        bytes += c;
        if (!bigEndian) bytes += '\0';
    }
    return bytes;
}

// Writes `bytes` as a file of the reader's kind and gives the message of the
// error the read raises ("" for none); `name` receives the file's path.
std::string ReadError(const Reader& reader, const std::string& bytes, std::string& name) {
    static TempDir dir;
    name = dir.File(std::string("data") + reader.Extension);
    WriteBytes(name, bytes);
    auto model = std::make_unique<TModel>();
    RecordingNotifier notifier;
    return ErrorText([&] { reader.Read(*model, name, notifier); });
}

TEST(FileReaders, NameTheFileAndLineUnderTheSystemsText) {
    const std::string padding(600, ' ');  // puts what follows beyond the start that tells a file's encoding
    const struct {
        const char* what;
        Reader reader;
        std::string bytes;
        std::string firstLine;
        std::string where;  // after the file name
        std::string advice;
    } cases[] = {
        {"a real", SITE, SITE_HEAD + "M_ff,abc\r\n#", "'abc' is not a valid floating point value", "line 5", ""},
        {"a flag", SITE, SITE_HEAD + "Saturat,1.0\r\n#", "''1.0'' is not a valid integer value", "line 5", ""},
        {"a later pair", SITE, SITE_HEAD + "M_ff,2\r\n#\r\nLat,x", "'x' is not a valid floating point value",
         "line 7", ""},
        {"a monthly value", CLIMATOLOGY, CLIMATE_HEAD + "Cv_P,1,2,x\r\n#", "'x' is not a valid floating point value",
         "line 5", ""},
        {"a derivation", CLIMATOLOGY, CLIMATE_HEAD + "Cv_P,1,2,3,4,5,6,7,8,9,10,11,12\r\n#\r\nav_P,1,2,-3,4,5,6,7,8,9,10,11,12\r\n#",
         "Invalid floating point operation", "av_P and Cv_P of month 3", ""},
        {"the column line", WEATHER, "#\r\nYear,Month,Tair\r\n",
         "The column line \"Year,Month,Tair\" of the weather file has no column \"Prec\".", "line 2", ""},
        {"a month", WEATHER, WEATHER_HEAD + "1961,x,1,1,1", "''x'' is not a valid integer value", "line 4", ""},
        {"a field", WEATHER, WEATHER_HEAD + "1961,2,-5,20 mm,1", "'20 mm' is not a valid floating point value",
         "line 4", ""},
        // Before, the message ended at the NUL: "'6".
        {"control bytes in the text", SITE, SITE_HEAD + "Lat,6\0\x01\x7F\tx\r\n#"s,
         "'6\\x00\\x01\\x7F\tx' is not a valid floating point value", "line 5", ""},
        {"UTF-16 text after an ASCII start", SITE, SITE_HEAD + "Corr,1" + padding + "\r\n#\r\nLat," + Utf16("61.8", false, false),
         "'6\\x001\\x00.\\x008\\x00' is not a valid floating point value", "line 7",
         "\nThe text has NUL bytes between its characters, as UTF-16 text has: save the file as Windows-1251 text."},
    };
    for (const auto& c : cases) {
        std::string name;
        const std::string error = ReadError(c.reader, c.bytes, name);
        EXPECT_EQ(error, c.firstLine + "\nin \"" + name + "\", " + c.where + c.advice) << c.what;
    }
}

TEST(FileReaders, RefuseAUtf16FileBeforeChangingAnything) {
    const struct {
        Reader reader;
        std::string text;
    } files[] = {
        {SITE, SITE_HEAD + "M_ff,2.00\r\n#"},
        {CLIMATOLOGY, CLIMATE_HEAD},
        {WEATHER, WEATHER_HEAD},
    };
    for (const auto& file : files)
        for (const bool bigEndian : {false, true})
            for (const bool mark : {false, true}) {
                const std::string what = std::string(file.reader.Extension) + (bigEndian ? " big-endian" : " little-endian") +
                                         (mark ? " with a byte-order mark" : "");
                std::string name;
                // Before, the site file gave just "'" (the message cut at the first NUL).
                const std::string error = ReadError(file.reader, Utf16(file.text, bigEndian, mark), name);
                EXPECT_EQ(error, "The file \"" + name +
                              "\" looks like UTF-16 text: save it as Windows-1251 text, the encoding of the data files.")
                    << what;
            }

    // The weather store and its years are left as they were.
    auto model = std::make_unique<TModel>();
    ASSERT_EQ(ErrorText([&] { ReadWeatherBytes(*model, WEATHER_HEAD); }), "");
    EXPECT_EQ(ErrorText([&] { ReadWeatherBytes(*model, Utf16("#\r\nYear,Month,Tair,Prec\r\n1990,1,1,1", false, true)); }),
              "The file looks like UTF-16 text: save it as Windows-1251 text, the encoding of the data files.");
    EXPECT_EQ(model->Settings.YearBeg, 1961);
    EXPECT_EQ(model->Weather.Tair[1][1], -14.2);
}

TEST(FileReaders, ReadSingleByteTextWithAStrayNulOrCyrillicLetters) {
    // Windows-1251 Cyrillic in the header and comments, a Lat line, and one
    // stray NUL in a skipped comment: none of it is taken for UTF-16.
    const std::string site = "\xCF\xE0\xF0\xE0\xEC\xE5\xF2\xF0\xFB \xEF\xEE\xF7\xE2\xFB\r\n#\r\nLat,61.8\r\n#\0x\r\nM_ff,2\r\n#"s;
    auto model = std::make_unique<TModel>();
    EXPECT_EQ(ErrorText([&] { ReadSiteBytes(*model, site, "soil.sit"); }), "");
    EXPECT_EQ(model->Site.M_ff, 2);
}

}  // namespace
}  // namespace kelmar
