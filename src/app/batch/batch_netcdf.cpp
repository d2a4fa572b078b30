#include "app/batch/batch_netcdf.h"

#include <algorithm>
#include <array>
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
#include "model/record_fields.h"

namespace kelmar::batch {

namespace {

// The records go to the part as they lie in memory and come back the same
// way: the part is read only by the program version that wrote it (the
// manifest's version is checked), on a machine of the same byte order.
static_assert(std::is_trivially_copyable_v<TResultRecord>);
static_assert(std::endian::native == std::endian::little, "values parts are little-endian");
constexpr std::size_t RECORDS_PER_YEAR = 13;  // the annual slot and twelve months
constexpr std::size_t YEAR_BYTES = RECORDS_PER_YEAR * sizeof(TResultRecord);

// "KSV2", the start of every site's record, so that a part read at the wrong
// place (or one of the layout before the provenance) is noticed at once.
constexpr std::uint32_t RECORD_MAGIC = 0x3256534bu;
constexpr std::uint32_t HAS_LAT = 1, HAS_LON = 2, ONE_REALIZATION = 4, HAS_PARAMS = 8, HAS_SCENARIO = 16;
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

// What a run was made with, after the header and the id: the site
// parameters in the order of SITE_FIELDS (flags as numbers) and the task's
// scenario, each valid when its flag says so.
struct RecordProvenance {
    std::array<double, SITE_FIELD_COUNT> Params{};
    std::array<double, 12> DeltaT{}, PrecFactor{};
    double Variability = 1, TrendT = 0, TrendPrec = 0;
};
static_assert(std::is_trivially_copyable_v<RecordProvenance>);

RecordProvenance ProvenanceOf(const TSiteParams* params, const TScenario* scenario) {
    RecordProvenance p;
    if (params)
        for (int k = 0; k < SITE_FIELD_COUNT; ++k) {
            const SiteField& field = SITE_FIELDS[k];
            p.Params[k] = field.Kind == FieldKind::Real ? params->*field.Real : params->*field.Flag;
        }
    if (scenario) {
        std::copy_n(scenario->DeltaT.begin() + 1, 12, p.DeltaT.begin());
        std::copy_n(scenario->PrecFactor.begin() + 1, 12, p.PrecFactor.begin());
        p.Variability = scenario->Variability;
        p.TrendT = scenario->TrendT;
        p.TrendPrec = scenario->TrendPrec;
    }
    return p;
}

TSiteParams ParamsOf(const RecordProvenance& p) {
    TSiteParams params;
    for (int k = 0; k < SITE_FIELD_COUNT; ++k) {
        const SiteField& field = SITE_FIELDS[k];
        if (field.Kind == FieldKind::Real)
            params.*field.Real = p.Params[k];
        else
            params.*field.Flag = static_cast<std::uint8_t>(p.Params[k]);
    }
    return params;
}

TScenario ScenarioOf(const RecordProvenance& p) {
    TScenario scenario;
    std::copy_n(p.DeltaT.begin(), 12, scenario.DeltaT.begin() + 1);
    std::copy_n(p.PrecFactor.begin(), 12, scenario.PrecFactor.begin() + 1);
    scenario.Variability = p.Variability;
    scenario.TrendT = p.TrendT;
    scenario.TrendPrec = p.TrendPrec;
    return scenario;
}

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
    // `definition` gets the task's scenario when the record carries one.
    void Next(CfSite& site, TResultsTable& table, int& years, int& scenario, int& replicate, bool& oneRealization,
              std::optional<TScenario>* definition = nullptr) {
        RecordStart = Position;
        RecordHeader header;
        Read(&header, sizeof header);
        if (header.Magic != RECORD_MAGIC) Fail("no site record");
        if (header.Years < 0 || header.Years > MAX_YEARS) Fail("a site record of " + std::to_string(header.Years) + " years");
        if (header.IdBytes == 0 || header.IdBytes > LONGEST_ID) Fail("a site record without a sound id");
        site.Id.resize(header.IdBytes);
        Read(site.Id.data(), header.IdBytes);
        RecordProvenance provenance;
        Read(&provenance, sizeof provenance);
        site.Params = header.Flags & HAS_PARAMS ? std::optional<TSiteParams>(ParamsOf(provenance)) : std::nullopt;
        if (definition)
            *definition = header.Flags & HAS_SCENARIO ? std::optional<TScenario>(ScenarioOf(provenance)) : std::nullopt;
        site.Seed = header.Seed;
        site.Lat = header.Flags & HAS_LAT ? std::optional<double>(header.Lat) : std::nullopt;
        site.Lon = header.Flags & HAS_LON ? std::optional<double>(header.Lon) : std::nullopt;
        years = header.Years;
        scenario = static_cast<int>(header.Flags >> SCENARIO_SHIFT);  // the flags below it are single bits
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
                             bool oneRealization, const TScenario* definition) {
    if (scenario < 0 || static_cast<std::uint32_t>(scenario) > LARGEST_SCENARIO || replicate < 0)
        throw KelmarError("A values record holds scenarios 0 to " + std::to_string(LARGEST_SCENARIO) + ", not " +
                          std::to_string(scenario) + ".");
    RecordHeader header;
    header.Years = model ? model->AvailableYears : 0;
    header.Seed = seed;
    header.IdBytes = static_cast<std::uint32_t>(siteId.size());
    header.Flags = (lat ? HAS_LAT : 0) | (lon ? HAS_LON : 0) | (oneRealization ? ONE_REALIZATION : 0) |
                   (model ? HAS_PARAMS : 0) | (definition ? HAS_SCENARIO : 0) |
                   (static_cast<std::uint32_t>(scenario) << SCENARIO_SHIFT);
    header.Replicate = static_cast<std::uint32_t>(replicate);
    header.Lat = lat.value_or(0);
    header.Lon = lon.value_or(0);
    std::string bytes(sizeof header, '\0');
    std::memcpy(bytes.data(), &header, sizeof header);
    bytes.append(siteId);
    const RecordProvenance provenance = ProvenanceOf(model ? &model->Site : nullptr, definition);
    bytes.append(reinterpret_cast<const char*>(&provenance), sizeof provenance);
    return bytes;
}

CfSite RecordedSite(std::string_view siteId, std::uint32_t seed, std::optional<double> lat, std::optional<double> lon,
                    const TModel* model) {
    CfSite site;
    site.Id = siteId;
    site.Lat = lat;
    site.Lon = lon;
    site.Seed = seed;
    if (model) site.Params = ParamsOf(ProvenanceOf(&model->Site, nullptr));
    return site;
}

TScenario RecordedScenario(const TScenario& scenario) { return ScenarioOf(ProvenanceOf(nullptr, &scenario)); }

std::string_view SiteValuesRecords(const TModel& model) {
    return {reinterpret_cast<const char*>(&model.Results.Records[1]),
            YEAR_BYTES * static_cast<std::size_t>(model.AvailableYears)};
}

namespace {

// The scenarios of the batch as the records of its first site carry them.
std::vector<TScenario> ScenarioDefinitions(const ChunkValues& first, int scenarios, int realizations) {
    std::vector<TScenario> definitions;
    ValuesReader values(first);
    const auto table = std::make_unique<TResultsTable>();
    CfSite site;
    for (int s = 0; s < scenarios; ++s) {
        for (int r = 0; r < realizations; ++r) {
            int years = 0, scenario = 0, replicate = 0;
            bool one = false;
            std::optional<TScenario> definition;
            values.Next(site, *table, years, scenario, replicate, one, &definition);
            if (scenario != s || !definition) values.Fail("no definition of scenario " + std::to_string(s));
            if (r == 0) definitions.push_back(*definition);
            if (one) break;
        }
    }
    return definitions;
}

}  // namespace

void WriteNetcdfFromValues(const std::string& monthlyFile, const std::string& annualFile,
                           const std::vector<ChunkValues>& chunks, std::int64_t siteCount, std::int32_t firstYear,
                           std::int32_t lastYear, CfFileDescription description) {
    const std::string& fileName = monthlyFile;
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
    const int scenarios = std::max<int>(static_cast<int>(description.Scenarios.size()), 1);
    const int realizations = std::max(description.Realizations, 1);
    if (!description.Scenarios.empty() && !chunks.empty())
        description.ScenarioDefinitions = ScenarioDefinitions(chunks.front(), scenarios, realizations);
    const std::unique_ptr<CfWriter> writer = NewCfNetcdfWriter(monthlyFile, annualFile, description);
    // One site's records, refilled for each site: a site reads only its own years.
    const auto table = std::make_unique<TResultsTable>();
    CfSite site;
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
                    writer->WriteTask(site, s, r, *table, years);
                    if (!one) continue;
                    // The other realizations of a site that has one: no results, no seed.
                    CfSite none = site;
                    none.Seed.reset();
                    for (++r; r < realizations; ++r) writer->WriteTask(none, s, r, *table, 0);
                }
            }
        }
        values.ExpectEnd();
    }
    writer->Finish();
}

}  // namespace kelmar::batch
