#include "app/batch/batch_netcdf.h"

#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>

#include "app/batch/batch_tables.h"
#include "model/errors.h"
#include "model/record_fields.h"

namespace kelmar::batch {

namespace {

constexpr int FIELD_COUNT = static_cast<int>(RESULT_FIELDS.size());
// site_id, year, month, the fields
constexpr int MONTHLY_COLUMNS = 3 + FIELD_COUNT;
// site_id, year, the fields, seed
constexpr int ANNUAL_COLUMNS = 3 + FIELD_COUNT;

// Reads the records of a headerless comma-separated part one at a time
// through a fixed buffer, as the batch tables quote them (csv_text.h):
// quoted fields with doubled quotes and line ends inside.
class PartReader {
public:
    explicit PartReader(std::string fileName) : Name(std::move(fileName)), Buffer(BUFFER_BYTES) {
        File = std::fopen(Name.c_str(), "rb");
        if (!File) throw KelmarError("Cannot read the part \"" + Name + "\"; run the batch with --resume to make it again.");
    }
    ~PartReader() {
        if (File) std::fclose(File);
    }
    PartReader(const PartReader&) = delete;
    PartReader& operator=(const PartReader&) = delete;

    // The next record into `fields`; false at the end of the part.
    bool Next(std::vector<std::string>& fields) {
        if (NextPlain(fields)) return true;
        fields.clear();
        int c = Get();
        if (c == EOF) return false;
        RecordLine = NextLine;
        std::string field;
        bool quoted = false;
        for (;; c = Get()) {
            if (c == EOF) {
                if (quoted) Fail("a quoted field that is never closed");
                fields.push_back(std::move(field));
                return true;
            }
            if (quoted) {
                if (c == '"') {
                    if (Peek() == '"') {
                        Get();
                        field.push_back('"');
                    } else {
                        quoted = false;
                    }
                } else {
                    if (c == '\n') ++NextLine;
                    field.push_back(static_cast<char>(c));
                }
            } else if (c == '"' && field.empty()) {
                quoted = true;
            } else if (c == ',') {
                fields.push_back(std::move(field));
                field.clear();
            } else if (c == '\n') {
                ++NextLine;
                fields.push_back(std::move(field));
                return true;
            } else if (c != '\r') {
                field.push_back(static_cast<char>(c));
            }
        }
    }

    [[noreturn]] void Fail(const std::string& what) const {
        throw KelmarError("The part \"" + Name + "\", line " + std::to_string(RecordLine) + ", holds " + what +
                          ", not what the batch wrote there; remove that chunk's .done file and run the batch with "
                          "--resume to make the chunk again.");
    }

    const std::string& FileName() const { return Name; }

private:
    // The common record, whole in the buffer, without quotes or carriage
    // returns (the numbers' rows): split at the commas in place, reusing the
    // strings of `fields`. False, having read nothing, for any other record.
    bool NextPlain(std::vector<std::string>& fields) {
        const char* begin = Buffer.data() + Position;
        const char* end = Buffer.data() + Filled;
        const char* lineEnd = static_cast<const char*>(std::memchr(begin, '\n', static_cast<std::size_t>(end - begin)));
        if (!lineEnd) return false;
        const std::size_t length = static_cast<std::size_t>(lineEnd - begin);
        if (std::memchr(begin, '"', length) || std::memchr(begin, '\r', length)) return false;
        std::size_t count = 0;
        for (const char* p = begin;;) {
            const char* comma = static_cast<const char*>(std::memchr(p, ',', static_cast<std::size_t>(lineEnd - p)));
            const char* stop = comma ? comma : lineEnd;
            if (count < fields.size())
                fields[count].assign(p, stop);
            else
                fields.emplace_back(p, stop);
            ++count;
            if (!comma) break;
            p = comma + 1;
        }
        fields.resize(count);
        RecordLine = NextLine++;
        Position = static_cast<std::size_t>(lineEnd + 1 - Buffer.data());
        return true;
    }

    // A megabyte: few reads, and little memory for the three parts open at once.
    static constexpr std::size_t BUFFER_BYTES = std::size_t{1} << 20;

    int Get() {
        if (Position == Filled && !Refill()) return EOF;
        return static_cast<unsigned char>(Buffer[Position++]);
    }
    int Peek() {
        if (Position == Filled && !Refill()) return EOF;
        return static_cast<unsigned char>(Buffer[Position]);
    }
    bool Refill() {
        Filled = std::fread(Buffer.data(), 1, Buffer.size(), File);
        Position = 0;
        if (Filled == 0 && std::ferror(File))
            throw KelmarError("Cannot read the part \"" + Name + "\" (a read error of the system).");
        return Filled > 0;
    }

    std::string Name;
    std::FILE* File = nullptr;
    std::vector<char> Buffer;
    std::size_t Position = 0, Filled = 0;
    int NextLine = 1, RecordLine = 0;
};

template <typename T>
std::optional<T> ParseNumber(const std::string& text) {
    T value{};
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
    return value;
}

// One row of a site index.
struct IndexRow {
    CfSite Site;
    int Years = 0;
    std::int32_t FirstYear = 0, LastYear = 0;
};

IndexRow ReadIndexRow(const PartReader& part, const std::vector<std::string>& f) {
    if (static_cast<int>(f.size()) != SITE_INDEX_COLUMNS)
        part.Fail(std::to_string(f.size()) + " fields instead of " + std::to_string(SITE_INDEX_COLUMNS));
    IndexRow row;
    row.Site.Id = f[0];
    const auto seed = ParseNumber<std::uint32_t>(f[1]);
    const auto years = ParseNumber<int>(f[4]);
    if (!seed || !years || *years < 0 || *years > MAX_YEARS) part.Fail("a seed or a count of years that is not one");
    row.Site.Seed = *seed;
    row.Years = *years;
    if (!f[2].empty()) {
        row.Site.Lat = ParseNumber<double>(f[2]);
        if (!row.Site.Lat) part.Fail("the latitude \"" + f[2] + "\"");
    }
    if (!f[3].empty()) {
        row.Site.Lon = ParseNumber<double>(f[3]);
        if (!row.Site.Lon) part.Fail("the longitude \"" + f[3] + "\"");
    }
    if (row.Years > 0) {
        const auto first = ParseNumber<std::int32_t>(f[5]);
        const auto last = ParseNumber<std::int32_t>(f[6]);
        if (!first || !last || *last < *first) part.Fail("first and last years that are not a span");
        row.FirstYear = *first;
        row.LastYear = *last;
    }
    return row;
}

// Reads the next row of `part` into `record`: it must be a row of `siteId`
// with `columns` fields; the fields begin at `firstField`.
void ReadRecord(PartReader& part, std::vector<std::string>& fields, const std::string& siteId, int columns,
                int firstField, TResultRecord& record) {
    if (!part.Next(fields)) part.Fail("its end where site \"" + siteId + "\" has more rows");
    if (static_cast<int>(fields.size()) != columns)
        part.Fail(std::to_string(fields.size()) + " fields instead of " + std::to_string(columns));
    if (fields[0] != siteId) part.Fail("a row of site \"" + fields[0] + "\" where one of \"" + siteId + "\" belongs");
    for (int f = 0; f < FIELD_COUNT; ++f) {
        const auto value = ParseNumber<double>(fields[static_cast<std::size_t>(firstField + f)]);
        if (!value) part.Fail("the " + std::string(RESULT_FIELDS[f].Key) + " value \"" + fields[firstField + f] + "\"");
        record.*RESULT_FIELDS[f].Value = *value;
    }
}

}  // namespace

bool WriteNetcdfFromParts(const std::string& fileName, const std::vector<ChunkPartFiles>& chunks,
                          std::int64_t siteCount, CfFileDescription description) {
    if (siteCount > INT_MAX)
        throw KelmarError("Cannot write the file \"" + fileName + "\": " + std::to_string(siteCount) +
                          " sites are more than it can hold.");
    std::vector<std::string> fields;

    // First pass: the span of years over all sites, from the small indexes.
    std::int64_t indexed = 0;
    std::optional<std::int32_t> firstYear, lastYear;
    for (const ChunkPartFiles& chunk : chunks) {
        PartReader sites(chunk.Sites);
        while (sites.Next(fields)) {
            const IndexRow row = ReadIndexRow(sites, fields);
            ++indexed;
            if (row.Years == 0) continue;
            if (!firstYear || row.FirstYear < *firstYear) firstYear = row.FirstYear;
            if (!lastYear || row.LastYear > *lastYear) lastYear = row.LastYear;
        }
    }
    if (indexed != siteCount)
        throw KelmarError("The site indexes of the batch's parts hold " + std::to_string(indexed) + " sites, not the " +
                          std::to_string(siteCount) + " of its list; \"" + fileName + "\" was not written.");
    if (!firstYear) return false;

    description.SiteCount = static_cast<int>(siteCount);
    description.FirstYear = *firstYear;
    description.LastYear = *lastYear;
    CfNetcdfWriter writer(fileName, description);
    // One site's records, refilled for each site: a site reads only its own years.
    const auto table = std::make_unique<TResultsTable>();
    for (const ChunkPartFiles& chunk : chunks) {
        PartReader sites(chunk.Sites), monthly(chunk.Monthly), annual(chunk.Annual);
        while (sites.Next(fields)) {
            const IndexRow row = ReadIndexRow(sites, fields);
            const std::string& id = row.Site.Id;
            for (int i = 1; i <= row.Years; ++i) {
                for (int m = 1; m <= 12; ++m) {
                    TResultRecord& record = table->At(i, m);
                    ReadRecord(monthly, fields, id, MONTHLY_COLUMNS, 3, record);
                    const auto year = ParseNumber<std::int32_t>(fields[1]);
                    const auto month = ParseNumber<std::int32_t>(fields[2]);
                    if (!year || !month || *month != m || *year < row.FirstYear || *year > row.LastYear)
                        monthly.Fail("the month " + fields[1] + "-" + fields[2] + " of site \"" + id + "\" where month " +
                                     std::to_string(m) + " of one of its years " + std::to_string(row.FirstYear) + ".." +
                                     std::to_string(row.LastYear) + " belongs");
                    record.Year = *year;
                    record.Month = *month;
                }
                TResultRecord& record = table->At(i, 0);
                ReadRecord(annual, fields, id, ANNUAL_COLUMNS, 2, record);
                if (fields[1] != std::to_string(table->At(i, 1).Year))
                    annual.Fail("the year " + fields[1] + " of site \"" + id + "\" where its year " +
                                std::to_string(table->At(i, 1).Year) + " belongs");
                record.Year = 0;  // the annual slot, as a run leaves it
                record.Month = 0;
            }
            writer.WriteSite(row.Site, *table, row.Years);
        }
        if (monthly.Next(fields)) monthly.Fail("a row of site \"" + fields[0] + "\", which its chunk's index lacks");
        if (annual.Next(fields)) annual.Fail("a row of site \"" + fields[0] + "\", which its chunk's index lacks");
    }
    writer.Finish();
    return true;
}

}  // namespace kelmar::batch
