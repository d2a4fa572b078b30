#include "app/batch/site_list.h"

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unordered_map>
#include <unordered_set>

#include "app/batch/list_faults.h"
#include "app/flag_value.h"
#include "io/csv_text.h"
#include "io/file_bytes.h"
#include "io/number_text.h"
#include "io/read_errors.h"
#include "io/site_file.h"
#include "model/errors.h"
#include "model/record_fields.h"

namespace kelmar::batch {

namespace {

// A list of a million sites with every parameter as a column is about
// 200 MB; the limit leaves room to spare and refuses a mistaken huge file.
constexpr DataFileLimit SITE_LIST_LIMIT = {"site list", 1024 * MIB};

enum class ColumnKind { Id, SiteFile, Param, Climate, Weather, Seed, Lat, Lon };

struct ListColumn {
    ColumnKind Kind;
    const SiteField* Field = nullptr;  // for Param
    const char* Name = "";             // as the header names it
};

constexpr std::pair<const char*, ColumnKind> NAMED_COLUMNS[] = {
    {"site_id", ColumnKind::Id},          {"site_file", ColumnKind::SiteFile}, {"climate_file", ColumnKind::Climate},
    {"weather_file", ColumnKind::Weather}, {"seed", ColumnKind::Seed},          {"lat", ColumnKind::Lat},
    {"lon", ColumnKind::Lon},
};

std::string KnownColumnNames() {
    std::string names = "site_id, site_file, ";
    for (const SiteField& field : SITE_FIELDS) names.append(field.Key).append(", ");
    return names + "climate_file, weather_file, seed, lat, lon";
}

ListColumn ColumnNamed(const std::string& name) {
    for (const auto& [key, kind] : NAMED_COLUMNS)
        if (name == key) return {kind, nullptr, key};
    for (const SiteField& field : SITE_FIELDS)
        if (name == field.Key) return {ColumnKind::Param, &field, field.Key};
    RefuseBareCarriageReturn(name);
    throw KelmarError("The column \"" + ShownListText(name) + "\" is unknown; a site list has the columns " +
                      KnownColumnNames() + ".");
}

std::string Relative(const std::string& folder, const std::string& path) {
    const std::filesystem::path p = PathOf(path);
    if (p.is_absolute() || folder.empty()) return path;
    return Utf8Name(PathOf(folder) / p);
}

std::uint32_t ParseSeed(const std::string& text) {
    std::uint32_t value = 0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    if (text.empty() || result.ec != std::errc() || result.ptr != end)
        throw KelmarError("The seed '" + ShownListText(text) + "' is not a whole number from 0 to 4294967295.");
    return value;
}

// The range is the one the netCDF output's coordinates take (degrees east
// from -180 or from 0), so a list read here never fails at the merge.
double ParseDegrees(const std::string& text, const char* column, double lowest, double highest) {
    const double value = ListReal(text);
    if (!(value >= lowest && value <= highest))  // NaN too
        throw KelmarError(std::string("The ") + column + " " + text + " lies outside " + std::to_string(int(lowest)) +
                          " to " + std::to_string(int(highest)) + " degrees.");
    return value;
}


// The header and the rows of a list, each fault of either recorded with its
// line; the part of the reading the whole and the two-pass reader share.
class ListParser {
public:
    ListParser(const std::string& fileName, const std::string& folder, const std::string& gridRecords = std::string())
        : FileName(fileName), Folder(folder), GridRecords(gridRecords), Errors("site list", fileName) {}

    // Reads the header into the columns; raises the faults at once, as no
    // row can be read without it. False when the text holds no record
    // (only empty lines).
    bool Header(CsvReader& reader) {
        std::vector<std::string> fields;
        if (!reader.Next(fields)) return false;
        bool hasId = false, hasSiteFile = false, hasParam = false, hasLat = false, hasLon = false, hasParamLat = false;
        Errors.AtLine(reader.LineNumber(), [&] {
            for (std::size_t k = 0; k < fields.size(); ++k) {
                const ListColumn column = ColumnNamed(fields[k]);
                if (std::find(fields.begin(), fields.begin() + static_cast<long>(k), fields[k]) != fields.begin() + static_cast<long>(k))
                    throw KelmarError("The column \"" + ShownListText(fields[k]) + "\" is named twice.");
                Columns.push_back(column);
                hasId |= column.Kind == ColumnKind::Id;
                hasSiteFile |= column.Kind == ColumnKind::SiteFile;
                hasParam |= column.Kind == ColumnKind::Param;
                hasLat |= column.Kind == ColumnKind::Lat;
                hasLon |= column.Kind == ColumnKind::Lon;
                hasParamLat |= column.Kind == ColumnKind::Param && column.Field->Real == &TSiteParams::Lat;
            }
            if (!hasId) throw KelmarError("The header names no column \"site_id\".");
            if (hasSiteFile && hasParam)
                throw KelmarError("The header names both site_file and site parameters; give either.");
            if (!hasSiteFile && !hasParam)
                throw KelmarError("The header names neither site_file nor any site parameter (" + KnownColumnNames() + ").");
            // "lat" only places a site on a map; without "Lat" the model would
            // silently run at the equator.
            if (hasParam && hasLat && !hasParamLat)
                throw KelmarError("The column \"lat\" only places a site on maps; the model's latitude is the column \"Lat\".");
            if (!GridRecords.empty() && (!hasLat || !hasLon))
                throw KelmarError("The header names no column \"" + std::string(hasLat ? "lon" : "lat") +
                                  "\"; --grid takes each site's weather by its lat and lon.");
        });
        Errors.ThrowIfAny();
        return true;
    }

    // The site of a row; false, with the fault recorded, when it has one.
    bool Row(const std::vector<std::string>& fields, int line, SiteEntry& site) {
        site = SiteEntry();
        site.Line = line;
        ApplySiteDefaults(site.Params);
        bool ok = false;
        Errors.AtLine(line, [&] {
            if (fields.size() != Columns.size())
                throw KelmarError("The row has " + std::to_string(fields.size()) + " fields; the header names " +
                                  std::to_string(Columns.size()) + ".");
            for (std::size_t k = 0; k < Columns.size(); ++k) {
                const std::string& text = fields[k];
                const ListColumn& column = Columns[k];
                if (text.find('\0') != std::string::npos)
                    throw KelmarError("The field " + std::string(column.Name) + " \"" + ShownListText(text) +
                                      "\" holds a NUL byte, which no text of a list holds.\n"
                                      "Save the list as UTF-8 text, the encoding of the lists.");
                const bool optional = column.Kind == ColumnKind::Seed || column.Kind == ColumnKind::Lat ||
                                      column.Kind == ColumnKind::Lon || column.Kind == ColumnKind::Climate ||
                                      column.Kind == ColumnKind::Weather;
                if (text.empty() && !optional) {
                    const std::string name = column.Kind == ColumnKind::Param ? column.Field->Key
                                             : column.Kind == ColumnKind::Id ? "site_id" : "site_file";
                    throw KelmarError("The field " + name + " is empty.");
                }
                if (text.empty()) continue;
                switch (column.Kind) {
                    case ColumnKind::Id:
                        CheckListLabel(text, "site_id");
                        site.Id = text;
                        break;
                    case ColumnKind::SiteFile: site.SiteFile = Relative(Folder, text); break;
                    case ColumnKind::Param:
                        try {
                            if (column.Field->Kind == FieldKind::Flag)
                                site.Params.*column.Field->Flag =
                                    FlagValue(ParseInteger(text, IntegerForm::Decimal), column.Field->Key, ShownListText(text));
                            else {
                                ListReal(text);  // a text that is no number refused as the list holds it
                                ParseSiteLine(site.Params, std::string(column.Field->Key) + "," + text);
                            }
                        } catch (const KelmarError& e) {
                            throw LocatedError(WithLocationLine(
                                e.what(), FileLineLocation(FileName, line) + ", column " + column.Field->Key));
                        }
                        break;
                    case ColumnKind::Climate: site.ClimateFile = Relative(Folder, text); break;
                    case ColumnKind::Weather: site.WeatherFile = Relative(Folder, text); break;
                    case ColumnKind::Seed: site.Seed = ParseSeed(text); break;
                    case ColumnKind::Lat: site.Lat = ParseDegrees(text, "lat", -90, 90); break;
                    case ColumnKind::Lon: site.Lon = ParseDegrees(text, "lon", -180, 360); break;
                }
            }
            if (!GridRecords.empty() && site.WeatherFile.empty()) {
                if (!site.Lat || !site.Lon)
                    throw KelmarError("The site \"" + site.Id + "\" names no weather_file, so it takes its weather "
                                      "from --grid, which needs its lat and lon.");
                site.WeatherFile = GridRecords;
                site.FromGrid = true;
            }
            if (site.ClimateFile.empty() && site.WeatherFile.empty())
                throw KelmarError("The site \"" + site.Id + "\" has neither a climate_file nor a weather_file.");
            ok = true;
        });
        if (ok) Formulas.Note(site.Id);
        return ok;
    }

    void RepeatedId(const std::string& id, int line, int firstLine) {
        Errors.AtLine(line, [&] {
            throw KelmarError("The site_id \"" + id + "\" was given before, on line " + std::to_string(firstLine) + ".");
        });
    }

    std::string FileName, Folder;
    std::string GridRecords;  // empty: no grid
    ListFaults Errors;
    std::vector<ListColumn> Columns;
    FormulaLabels Formulas;  // of the rows read
};

}  // namespace

void FormulaLabels::Note(const std::string& label) {
    if (label.empty() || (label[0] != '=' && label[0] != '+' && label[0] != '-' && label[0] != '@')) return;
    if (First.size() < SHOWN) First.push_back(label);
    ++Count;
}

std::optional<std::string> FormulaWarning(const FormulaLabels& labels, const std::string& what) {
    if (labels.Count == 0) return std::nullopt;
    std::string named;
    for (const std::string& label : labels.First) named.append(named.empty() ? "" : ", ").append(label);
    if (labels.Count > static_cast<std::int64_t>(labels.First.size())) named += ", ...";
    const std::string subject = labels.Count == 1 ? "1 " + what.substr(0, what.size() - 1) + " begins"
                                                  : std::to_string(labels.Count) + " " + what + " begin";
    return subject + " with =, +, - or @ (" + named + "); spreadsheets may read " +
           (labels.Count == 1 ? "it as a formula" : "them as formulas") + ": import the CSV as text";
}

std::uint64_t Fnv1a64(std::string_view bytes, std::uint64_t hash) {
    for (const unsigned char c : bytes) {
        hash ^= c;
        hash *= 1099511628211ull;  // FNV prime
    }
    return hash;
}

SiteList ParseSiteList(std::string bytes, const std::string& fileName, const std::string& folder) {
    RefuseUtf16List(bytes, "site list", fileName);
    SiteList list;
    list.FileName = fileName;
    list.Bytes = std::move(bytes);
    CsvReader reader(list.Bytes, fileName);
    ListParser parser(fileName, folder);
    if (!parser.Header(reader)) throw KelmarError("The site list \"" + fileName + "\" is empty; it needs a header row.");
    std::vector<std::string> fields;
    std::unordered_map<std::string, int> firstLine;
    while (reader.Next(fields)) {
        SiteEntry site;
        if (parser.Row(fields, reader.LineNumber(), site)) {
            const auto [seen, added] = firstLine.emplace(site.Id, site.Line);
            if (!added) parser.RepeatedId(site.Id, site.Line, seen->second);
        }
        list.Sites.push_back(std::move(site));
    }
    parser.Errors.ThrowIfAny();
    if (list.Sites.empty()) throw KelmarError("The site list \"" + fileName + "\" names no site.");
    list.FormulaIds = std::move(parser.Formulas);
    return list;
}

SiteList ReadSiteList(const std::string& fileName) {
    RefusingNotifier notifier;
    std::optional<std::string> bytes =
        ReadDataFile(fileName, "The site list \"%s\" was not found.", SITE_LIST_LIMIT, notifier);
    const std::filesystem::path folder = PathOf(fileName).parent_path();
    return ParseSiteList(std::move(*bytes), fileName, Utf8Name(folder));
}

namespace {

// The length of the longest start of `text` that ends with a whole record:
// after a line end outside quotes (a doubled quote inside a quoted field
// counts twice, so the parity holds). `text` begins with a record.
std::size_t WholeRecords(std::string_view text) {
    bool quoted = false;
    std::size_t end = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '"') quoted = !quoted;
        else if (text[i] == '\n' && !quoted) end = i + 1;
    }
    return end;
}

}  // namespace

struct SiteListFile::State {
    std::string FileName;
    std::string Folder;
    std::string GridRecords;
    std::optional<std::string> Whole;  // a list that is no regular file
    std::size_t ReadBytes = SITE_LIST_READ_BYTES;
    std::uint64_t Size = 0;            // bytes of the list
    std::uint64_t Hash = FNV1A64_BASIS;
    std::int64_t Count = 0;
    std::int64_t LastWithoutSeed = -1;
    FormulaLabels FormulaIds;
    int BlockSites = 1;
    std::vector<ListColumn> Columns;
    // Where each block's first site begins (byte and line), and the hash of
    // the block's bytes, to find a list changed between the passes.
    struct Block {
        std::uint64_t Offset = 0;
        int Line = 0;
        std::uint64_t Hash = FNV1A64_BASIS;
    };
    std::vector<Block> Blocks;

    // Calls `piece(text, offset)` for the whole records of the list in
    // order, each piece beginning with a record at byte `offset`.
    template <typename Piece>
    void ForEachPiece(Piece&& piece) const {
        if (Whole) {
            piece(std::string_view(*Whole), std::uint64_t{0});
            return;
        }
        std::FILE* file = std::fopen(PathOf(FileName).c_str(), "rb");
        if (!file) throw KelmarError("Cannot read the file \"" + FileName + "\": " + std::strerror(errno) + ".");
        std::string text, buffer(ReadBytes, '\0');
        std::uint64_t offset = 0, total = 0;
        try {
            for (;;) {
                const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file);
                if (got == 0 && std::ferror(file))
                    throw KelmarError("Cannot read the file \"" + FileName + "\": a read error of the system.");
                total += got;
                if (total > SITE_LIST_LIMIT.MaxBytes)
                    throw KelmarError("The file \"" + FileName + "\" holds more than " +
                                      std::to_string(SITE_LIST_LIMIT.MaxBytes / MIB) + " MiB, far more than any " +
                                      SITE_LIST_LIMIT.Kind + "; it was not read.");
                text.append(buffer.data(), got);
                const std::size_t whole = got == 0 ? text.size() : WholeRecords(text);
                if (whole > 0) {
                    piece(std::string_view(text).substr(0, whole), offset);
                    offset += whole;
                    text.erase(0, whole);
                }
                if (got == 0) break;
            }
        } catch (...) {
            std::fclose(file);
            throw;
        }
        std::fclose(file);
    }

    // The bytes [offset, offset + length) of the list. A list whose length
    // is no longer the one checked (rows added or taken away) has changed,
    // whichever block is read.
    std::string ReadRange(std::uint64_t offset, std::uint64_t length) const {
        if (Whole) return Whole->substr(offset, length);
        std::string bytes(length, '\0');
        std::FILE* file = std::fopen(PathOf(FileName).c_str(), "rb");
        struct stat status {};
        const bool read = file && ::fstat(::fileno(file), &status) == 0 &&
                          static_cast<std::uint64_t>(status.st_size) == Size &&
                          ::fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0 &&
                          std::fread(bytes.data(), 1, length, file) == length;
        if (file) std::fclose(file);
        if (!read) Changed();
        return bytes;
    }

    // The first `length` bytes of the list, fewer when it is shorter.
    std::string Head(std::size_t length) const {
        if (Whole) return Whole->substr(0, length);
        std::string bytes(length, '\0');
        std::FILE* file = std::fopen(PathOf(FileName).c_str(), "rb");
        if (!file) throw KelmarError("Cannot read the file \"" + FileName + "\": " + std::strerror(errno) + ".");
        bytes.resize(std::fread(bytes.data(), 1, length, file));
        std::fclose(file);
        return bytes;
    }

    // Whether the file holds `Size` bytes of hash `Hash` now.
    bool Unchanged() const {
        if (Whole) return true;
        std::FILE* file = std::fopen(PathOf(FileName).c_str(), "rb");
        if (!file) return false;
        std::string buffer(ReadBytes, '\0');
        std::uint64_t hash = FNV1A64_BASIS, total = 0;
        for (std::size_t got; (got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0 && total <= Size;) {
            hash = Fnv1a64(std::string_view(buffer.data(), got), hash);
            total += got;
        }
        const bool failed = std::ferror(file) != 0;
        std::fclose(file);
        return !failed && total == Size && hash == Hash;
    }

    [[noreturn]] void Changed() const {
        throw KelmarError("The site list \"" + FileName +
                          "\" has changed since the batch checked it; a list must stay as it is while its batch "
                          "runs. Put it back as it was and run the batch again with --resume.");
    }
};

SiteListFile::SiteListFile(const std::string& fileName, int blockSites, std::size_t readBytes,
                           const std::string& gridRecords)
    : Impl(std::make_unique<State>()) {
    State& s = *Impl;
    s.FileName = fileName;
    s.GridRecords = gridRecords;
    s.Folder = Utf8Name(PathOf(fileName).parent_path());
    s.BlockSites = std::max(1, blockSites);
    s.ReadBytes = std::max<std::size_t>(1, readBytes);
    std::error_code error;
    const auto status = std::filesystem::status(PathOf(fileName), error);
    if (!std::filesystem::is_regular_file(status)) {
        RefusingNotifier notifier;
        s.Whole = ReadDataFile(fileName, "The site list \"%s\" was not found.", SITE_LIST_LIMIT, notifier);
    }
    // What RefuseUtf16File looks at: a byte-order mark and the text after it.
    RefuseUtf16List(s.Head(2 + 512), "site list", fileName);

    // First pass: every row checked; of the ids only a hash each, the
    // repeated ones found after the pass.
    ListParser parser(fileName, s.Folder, s.GridRecords);
    bool header = true;
    std::vector<std::string> fields;
    std::vector<std::uint64_t> idHashes;
    int line = 1;
    std::uint64_t blockHash = FNV1A64_BASIS;
    std::uint64_t hashedTo = 0;  // bytes of the current block hashed so far
    s.ForEachPiece([&](std::string_view text, std::uint64_t offset) {
        s.Hash = Fnv1a64(text, s.Hash);
        s.Size = offset + text.size();
        // Only the file's start may hold a byte-order mark; pieces of empty
        // lines may come before the header.
        CsvReader reader = offset == 0 ? CsvReader(text, fileName) : CsvReader(text, fileName, line);
        if (header) {
            if (!parser.Header(reader)) {
                line = reader.NextLineNumber();
                return;
            }
            s.Columns = parser.Columns;
            header = false;
        }
        SiteEntry site;
        while (reader.Next(fields)) {
            const std::uint64_t at = offset + reader.RecordOffset();
            if (s.Count % s.BlockSites == 0) {
                if (!s.Blocks.empty()) {
                    s.Blocks.back().Hash = Fnv1a64(text.substr(hashedTo - offset, at - hashedTo), blockHash);
                }
                s.Blocks.push_back({at, reader.LineNumber(), 0});
                blockHash = FNV1A64_BASIS;
                hashedTo = at;
            }
            if (parser.Row(fields, reader.LineNumber(), site)) idHashes.push_back(std::hash<std::string>()(site.Id));
            if (!site.Seed) s.LastWithoutSeed = s.Count;
            ++s.Count;
        }
        line = reader.NextLineNumber();
        // The rest of this piece belongs to the current block.
        if (!s.Blocks.empty()) {
            blockHash = Fnv1a64(text.substr(hashedTo - offset), blockHash);
            hashedTo = offset + text.size();
        }
    });
    if (header) throw KelmarError("The site list \"" + fileName + "\" is empty; it needs a header row.");
    if (!s.Blocks.empty()) s.Blocks.back().Hash = blockHash;

    std::sort(idHashes.begin(), idHashes.end());
    std::unordered_set<std::uint64_t> repeated;
    for (std::size_t k = 1; k < idHashes.size(); ++k)
        if (idHashes[k] == idHashes[k - 1]) repeated.insert(idHashes[k]);
    std::vector<std::uint64_t>().swap(idHashes);
    if (!repeated.empty()) {
        // Rare: the rows of those hashes read again, to tell repeated ids
        // from different ids that share a hash, and to name the lines.
        std::unordered_map<std::string, int> firstLine;
        std::vector<std::pair<int, std::string>> repeats;  // line, id
        ListParser again(fileName, s.Folder, s.GridRecords);
        bool first = true;
        int nextLine = 1;
        s.ForEachPiece([&](std::string_view text, std::uint64_t offset) {
            CsvReader reader = offset == 0 ? CsvReader(text, fileName) : CsvReader(text, fileName, nextLine);
            if (first) {
                if (!again.Header(reader)) {
                    nextLine = reader.NextLineNumber();
                    return;
                }
                first = false;
            }
            SiteEntry site;
            while (reader.Next(fields)) {
                if (!again.Row(fields, reader.LineNumber(), site)) continue;
                if (!repeated.count(std::hash<std::string>()(site.Id))) continue;
                const auto [seen, added] = firstLine.emplace(site.Id, site.Line);
                if (!added) parser.RepeatedId(site.Id, site.Line, seen->second);
            }
            nextLine = reader.NextLineNumber();
        });
    }
    parser.Errors.ThrowIfAny();
    if (s.Count == 0) throw KelmarError("The site list \"" + fileName + "\" names no site.");
    s.FormulaIds = std::move(parser.Formulas);
}

SiteListFile::~SiteListFile() = default;

const std::string& SiteListFile::FileName() const { return Impl->FileName; }
std::int64_t SiteListFile::Count() const { return Impl->Count; }
std::uint64_t SiteListFile::Hash() const { return Impl->Hash; }
std::int64_t SiteListFile::LastWithoutSeed() const { return Impl->LastWithoutSeed; }
const FormulaLabels& SiteListFile::FormulaIds() const { return Impl->FormulaIds; }

void SiteListFile::CheckUnchanged() const {
    if (!Impl->Unchanged()) Impl->Changed();
}

std::vector<SiteEntry> SiteListFile::ReadBlock(std::int64_t block) const {
    const State& s = *Impl;
    const State::Block& b = s.Blocks.at(static_cast<std::size_t>(block));
    const std::uint64_t end = static_cast<std::size_t>(block) + 1 < s.Blocks.size() ? s.Blocks[block + 1].Offset : s.Size;
    const std::string bytes = s.ReadRange(b.Offset, end - b.Offset);
    if (Fnv1a64(bytes) != b.Hash) s.Changed();
    CsvReader reader(bytes, s.FileName, b.Line);
    ListParser parser(s.FileName, s.Folder, s.GridRecords);
    parser.Columns = s.Columns;
    std::vector<SiteEntry> sites;
    std::vector<std::string> fields;
    while (reader.Next(fields)) {
        sites.emplace_back();
        if (!parser.Row(fields, reader.LineNumber(), sites.back())) s.Changed();
    }
    const std::int64_t expected = std::min<std::int64_t>(s.BlockSites, s.Count - block * s.BlockSites);
    if (static_cast<std::int64_t>(sites.size()) != expected) s.Changed();
    return sites;
}

}  // namespace kelmar::batch
