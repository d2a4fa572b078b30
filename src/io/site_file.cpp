#include "io/site_file.h"

#include <cstdint>

#include "io/code_page.h"
#include "io/data_file_names.h"
#include "io/file_bytes.h"
#include "io/grid_texts.h"
#include "io/line_reader.h"
#include "io/number_text.h"
#include "io/read_errors.h"

namespace kelmar {

namespace {

// One parameter: its key, the field it fills (a real or a flag) and the
// comment line that follows it in the file, as stored Windows-1251 bytes.
struct SiteRow {
    const char* Key;
    double TSiteParams::*Real;
    std::uint8_t TSiteParams::*Flag;
    const char* Comment;
};

constexpr SiteRow SITE_ROWS[SITE_GRID_ROWS] = {
    {"Lat", &TSiteParams::Lat, nullptr, "# Latitude, deg."},
    {"M_ff", &TSiteParams::M_ff, nullptr, "# organic layer mass per area [kg/m^2]"},
    {"D_ff", &TSiteParams::D_ff, nullptr, "# organic layer bulk density, g/cm^3 = 10^3 kg/m^3"},
    {"W_WP_ff", &TSiteParams::W_WP_ff, nullptr, "# organic layer moisture (% vol) at permanent wilting point"},
    {"W_FC_ff", &TSiteParams::W_FC_ff, nullptr, "# organic layer moisture (% vol) at field capasity"},
    {"W_Sat_ff", &TSiteParams::W_Sat_ff, nullptr, "# organic layer moisture (% vol) at saturation conditions"},
    {"D_ms", &TSiteParams::D_ms, nullptr, "# mineral soil bulk density [g/m^3]"},
    {"W_WP_ms", &TSiteParams::W_WP_ms, nullptr, "# mineral soil moisture at permanent wilting point [vol.%]"},
    // The "c" of "capacity" is the Cyrillic es, byte 0xF1, as the file has always had it.
    {"W_FC_ms", &TSiteParams::W_FC_ms, nullptr, "# mineral soil moisture at field capa\xF1" "ity [vol.%]"},
    {"W_Sat_ms", &TSiteParams::W_Sat_ms, nullptr, "# mineral soil moisture at full saturation [vol.%]"},
    {"Wv0_ms", &TSiteParams::Wv0_ms, nullptr, "# Initial value of mineral soil moisture [vol.%]"},
    {"Corr", &TSiteParams::Corr, nullptr,
     "# correction factor for calculation Litter moisture, vol.%, from mineral soil moisture, vol.%"},
    {"Saturat", nullptr, &TSiteParams::Saturat,
     "# presence of ground water table in the 100 cm layer: 1 - yes, 0 - no"},
    {"Permafr", nullptr, &TSiteParams::Permafr, "# presence of Permafrost 1 - yes, 0 - no"},
    {"Fortype", nullptr, &TSiteParams::Fortype,
     "# forest type: 1-spruce, 2-pine, 3-birch, 4-oak, 0-non-defined (some average parameters used)"},
};

// A written site file has 32 lines of at most 100 bytes, about 3 KB; the
// limit leaves room for long typed values and stray text many times over.
constexpr DataFileLimit SITE_FILE_LIMIT = {"site file", 1 * MIB};

constexpr const char* HEADER_LINE = "VAR VALUE";
constexpr const char* SECOND_HEADER_LINE = "#";

std::string_view TrimSpacesAndTabs(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

void ApplySiteDefaults(TSiteParams& site) {
    site.D_ff = 0.05;
    site.W_WP_ff = 2.5;
    site.W_FC_ff = 10;
    site.W_Sat_ff = 97;
    site.Fortype = ftSpruce;
}

void ParseSiteLine(TSiteParams& site, std::string_view line) {
    const std::size_t comma = line.find(',');
    const std::string_view key = comma == std::string_view::npos ? std::string_view() : line.substr(0, comma);
    const std::string_view value =
        TrimSpacesAndTabs(comma == std::string_view::npos ? line : line.substr(comma + 1));
    const double number = ParseReal(value);
    for (const SiteRow& row : SITE_ROWS) {
        if (key != row.Key) continue;
        if (row.Real != nullptr)
            site.*row.Real = number;
        else  // the flag keeps the low eight bits of the integer
            site.*row.Flag = static_cast<std::uint8_t>(ParseInteger(value, IntegerForm::Decimal));
        return;
    }
}

void ReadSiteBytes(TModel& model, std::string_view bytes, std::string_view fileName) {
    RefuseUtf16File(bytes, fileName);
    LineReader reader(bytes);
    reader.ReadLine();
    reader.ReadLine();
    while (!reader.AtEnd()) {
        const std::string line = reader.ReadLine();
        AtFileLine(fileName, reader.LineNumber(), [&] { ParseSiteLine(model.Site, line); });
        reader.ReadLine();  // the comment line
    }
}

bool ReadSiteFile(TModel& model, const std::string& fileName, Notifier& notifier) {
    ApplySiteDefaults(model.Site);
    const std::string formedName = SiteFileName(fileName);
    const std::optional<std::string> bytes = ReadDataFile(formedName, SITE_NOT_FOUND_MESSAGE, SITE_FILE_LIMIT, notifier);
    if (!bytes) return false;
    ReadSiteBytes(model, *bytes, formedName);
    return true;
}

void WriteSiteFile(const std::string& fileName, const TextGrid& siteGrid) {
    std::string bytes = std::string(HEADER_LINE) + std::string(LINE_END) + SECOND_HEADER_LINE;
    for (int r = 0; r < SITE_GRID_ROWS; ++r) {
        const SiteRow& row = SITE_ROWS[r];
        bytes.append(LINE_END).append(row.Key).append(",").append(Utf8ToCp1251(siteGrid.CellOrEmpty(1, r)));
        bytes.append(LINE_END).append(row.Comment);
    }
    WriteFileAtomically(fileName, bytes);
}

}  // namespace kelmar
