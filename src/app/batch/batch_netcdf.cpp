#include "app/batch/batch_netcdf.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <system_error>
#include <type_traits>

#include <fcntl.h>
#include <unistd.h>

#include "io/file_bytes.h"
#include "model/errors.h"

namespace kelmar::batch {

namespace {

// The records go to the part as they lie in memory and come back the same
// way: the part is read only by the program version that wrote it (the
// manifest's version is checked), on a machine of the same byte order.
static_assert(std::is_trivially_copyable_v<TResultRecord>);
static_assert(std::endian::native == std::endian::little, "values parts are little-endian");
constexpr std::size_t RECORDS_PER_YEAR = 13;  // the annual slot and twelve months
constexpr std::size_t YEAR_BYTES = RECORDS_PER_YEAR * sizeof(TResultRecord);

// "KSV1", the start of every site's record, so that a part read at the wrong
// place is noticed at once.
constexpr std::uint32_t RECORD_MAGIC = 0x3156534bu;
constexpr std::uint32_t HAS_LAT = 1, HAS_LON = 2, ONE_REALIZATION = 4;
// The scenario of the task sits in the flags' upper bits.
constexpr int SCENARIO_SHIFT = 8;
constexpr std::uint32_t LARGEST_SCENARIO = (std::uint32_t{1} << (32 - SCENARIO_SHIFT)) - 1;

struct RecordHeader {
    std::uint32_t Magic = RECORD_MAGIC;
    std::int32_t Years = 0;
    std::uint32_t Seed = 0;
    std::uint32_t IdBytes = 0;
    std::uint32_t Flags = 0;      // HAS_LAT, HAS_LON, ONE_REALIZATION; the scenario from SCENARIO_SHIFT
    std::uint32_t Replicate = 0;
    double Lat = 0, Lon = 0;
};
static_assert(sizeof(RecordHeader) == 40);

// Longer ids are refused by the reader as damage; no list holds such.
constexpr std::uint32_t LONGEST_ID = 1 << 20;

// Reads the values of one chunk with pread, one site at a time.
class ValuesReader {
public:
    explicit ValuesReader(const ChunkValues& chunk) : Chunk(chunk), Position(chunk.Offset) {
        Fd = ::open(PathOf(chunk.Stream).c_str(), O_RDONLY | O_CLOEXEC);
        if (Fd < 0)
            throw KelmarError("Cannot read the part \"" + Chunk.Stream + "\" (" +
                              std::generic_category().message(errno) + "); run the batch with --resume to make it again.");
    }
    ~ValuesReader() { ::close(Fd); }
    ValuesReader(const ValuesReader&) = delete;
    ValuesReader& operator=(const ValuesReader&) = delete;

    // The next record into `site`, `table` (year indices 1..years) and
    // `years`, and its task: `scenario`, `replicate` and whether the site has one realization.
    void Next(CfSite& site, TResultsTable& table, int& years, int& scenario, int& replicate, bool& oneRealization) {
        RecordStart = Position;
        RecordHeader header;
        Read(&header, sizeof header);
        if (header.Magic != RECORD_MAGIC) Fail("no site record");
        if (header.Years < 0 || header.Years > MAX_YEARS) Fail("a site record of " + std::to_string(header.Years) + " years");
        if (header.IdBytes == 0 || header.IdBytes > LONGEST_ID) Fail("a site record without a sound id");
        site.Id.resize(header.IdBytes);
        Read(site.Id.data(), header.IdBytes);
        site.Seed = header.Seed;
        site.Lat = header.Flags & HAS_LAT ? std::optional<double>(header.Lat) : std::nullopt;
        site.Lon = header.Flags & HAS_LON ? std::optional<double>(header.Lon) : std::nullopt;
        years = header.Years;
        scenario = static_cast<int>(header.Flags >> SCENARIO_SHIFT);
        replicate = static_cast<int>(header.Replicate & 0x7fffffffu);
        oneRealization = (header.Flags & ONE_REALIZATION) != 0;
        Read(&table.Records[1], YEAR_BYTES * static_cast<std::size_t>(years));
    }

    // Raises when the chunk holds more than was read.
    void ExpectEnd() const {
        if (Position != Chunk.Offset + Chunk.Bytes) {
            RecordStart = Position;
            Fail("more than its " + std::to_string(Chunk.Sites) + " sites");
        }
    }

    [[noreturn]] void Fail(const std::string& what) const {
        throw KelmarError("The part \"" + Chunk.Stream + "\", byte " + std::to_string(RecordStart) + ", holds " + what +
                          ", not what the batch wrote there; remove that chunk's .done file and run the batch with "
                          "--resume to make the chunk again.");
    }

private:
    void Read(void* to, std::size_t bytes) {
        if (Position + bytes > Chunk.Offset + Chunk.Bytes) Fail("less than its " + std::to_string(Chunk.Sites) + " sites");
        auto* p = static_cast<char*>(to);
        while (bytes > 0) {
            const ssize_t n = ::pread(Fd, p, bytes, static_cast<off_t>(Position));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0)
                throw KelmarError("Cannot read the part \"" + Chunk.Stream + "\" (" + std::generic_category().message(errno) + ").");
            if (n == 0) Fail("its end where its chunk goes on");
            p += n;
            bytes -= static_cast<std::size_t>(n);
            Position += static_cast<std::uint64_t>(n);
        }
    }

    const ChunkValues& Chunk;
    std::uint64_t Position;
    mutable std::uint64_t RecordStart = 0;
    int Fd = -1;
};

}  // namespace

std::string SiteValuesHeader(std::string_view siteId, std::uint32_t seed, std::optional<double> lat,
                             std::optional<double> lon, const TModel* model, int scenario, int replicate,
                             bool oneRealization) {
    if (scenario < 0 || static_cast<std::uint32_t>(scenario) > LARGEST_SCENARIO || replicate < 0)
        throw KelmarError("A values record holds scenarios 0 to " + std::to_string(LARGEST_SCENARIO) + ", not " +
                          std::to_string(scenario) + ".");
    RecordHeader header;
    header.Years = model ? model->AvailableYears : 0;
    header.Seed = seed;
    header.IdBytes = static_cast<std::uint32_t>(siteId.size());
    header.Flags = (lat ? HAS_LAT : 0) | (lon ? HAS_LON : 0) | (oneRealization ? ONE_REALIZATION : 0) |
                   (static_cast<std::uint32_t>(scenario) << SCENARIO_SHIFT);
    header.Replicate = static_cast<std::uint32_t>(replicate);
    header.Lat = lat.value_or(0);
    header.Lon = lon.value_or(0);
    std::string bytes(sizeof header, '\0');
    std::memcpy(bytes.data(), &header, sizeof header);
    bytes.append(siteId);
    return bytes;
}

std::string_view SiteValuesRecords(const TModel& model) {
    return {reinterpret_cast<const char*>(&model.Results.Records[1]),
            YEAR_BYTES * static_cast<std::size_t>(model.AvailableYears)};
}

void WriteNetcdfFromValues(const std::string& fileName, const std::vector<ChunkValues>& chunks,
                           std::int64_t siteCount, std::int32_t firstYear, std::int32_t lastYear,
                           CfFileDescription description) {
    if (siteCount > INT_MAX)
        throw KelmarError("Cannot write the file \"" + fileName + "\": " + std::to_string(siteCount) +
                          " sites are more than it can hold.");
    std::int64_t listed = 0;
    for (const ChunkValues& chunk : chunks) listed += chunk.Sites;
    if (listed != siteCount)
        throw KelmarError("The values parts of the batch hold " + std::to_string(listed) + " sites, not the " +
                          std::to_string(siteCount) + " of its list; \"" + fileName + "\" was not written.");
    description.SiteCount = static_cast<int>(siteCount);
    description.FirstYear = firstYear;
    description.LastYear = lastYear;
    CfNetcdfWriter writer(fileName, description);
    // One site's records, refilled for each site: a site reads only its own years.
    const auto table = std::make_unique<TResultsTable>();
    CfSite site;
    const int scenarios = std::max<int>(static_cast<int>(description.Scenarios.size()), 1);
    const int realizations = std::max(description.Realizations, 1);
    for (const ChunkValues& chunk : chunks) {
        ValuesReader values(chunk);
        for (std::int64_t k = 0; k < chunk.Sites; ++k) {
            for (int s = 0; s < scenarios; ++s) {
                for (int r = 0; r < realizations; ++r) {
                    int years = 0, scenario = 0, replicate = 0;
                    bool one = false;
                    values.Next(site, *table, years, scenario, replicate, one);
                    if (scenario != s || replicate != r)
                        values.Fail("the record of scenario " + std::to_string(scenario) + ", replicate " +
                                    std::to_string(replicate) + " where scenario " + std::to_string(s) +
                                    ", replicate " + std::to_string(r) + " belongs");
                    writer.WriteTask(site, s, r, *table, years);
                    if (!one) continue;
                    // The other realizations of a site that has one: no results, no seed.
                    CfSite none = site;
                    none.Seed.reset();
                    for (++r; r < realizations; ++r) writer.WriteTask(none, s, r, *table, 0);
                }
            }
        }
        values.ExpectEnd();
    }
    writer.Finish();
}

}  // namespace kelmar::batch
