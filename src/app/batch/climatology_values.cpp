#include "app/batch/climatology_values.h"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstring>
#include <fstream>
#include <type_traits>

#include "model/errors.h"
#include "model/record_fields.h"

namespace kelmar::batch {

namespace {

// The part is read only by the program version that wrote it (the
// manifest's version is checked), on a machine of the same byte order.
static_assert(std::endian::native == std::endian::little, "values parts are little-endian");

// "KCL1", the start of every site's record, so that a part read at the
// wrong place is noticed at once.
constexpr std::uint32_t RECORD_MAGIC = 0x314c434bu;
constexpr std::uint32_t HAS_LAT = 1, HAS_LON = 2;
// Longer ids are refused by the reader as damage; no list holds such.
constexpr std::uint32_t LONGEST_ID = 1 << 20;

struct RecordHeader {
    std::uint32_t Magic = RECORD_MAGIC;
    std::uint32_t IdBytes = 0;
    std::uint32_t Flags = 0;  // HAS_LAT, HAS_LON
    std::uint32_t Unused = 0;
    double Lat = 0, Lon = 0;
};
static_assert(sizeof(RecordHeader) == 32 && std::is_trivially_copyable_v<RecordHeader>);

// Field f's month m (1..12) at f * 12 + m - 1.
using RecordValues = std::array<double, CLIMATE_FIELDS.size() * 12>;

// The records of one chunk, read whole: 64 sites of about 1.2 kB.
class RecordReader {
public:
    explicit RecordReader(const ClimatologyChunk& chunk) : Chunk(chunk) {
        std::ifstream in(Chunk.Stream, std::ios::binary);
        Bytes.resize(Chunk.Bytes);
        if (in) in.seekg(static_cast<std::streamoff>(Chunk.Offset));
        if (!in || !in.read(Bytes.data(), static_cast<std::streamsize>(Bytes.size())))
            throw KelmarError("Cannot read the part \"" + Chunk.Stream + "\" from byte " + std::to_string(Chunk.Offset) +
                              "; run the batch with --resume to make it again.");
    }

    void Next(CfSite& site, TClimatology& climate) {
        RecordStart = Position;
        RecordHeader header;
        Read(&header, sizeof header);
        if (header.Magic != RECORD_MAGIC) Fail("no site record");
        if (header.IdBytes == 0 || header.IdBytes > LONGEST_ID) Fail("a site record without a sound id");
        site.Id.resize(header.IdBytes);
        Read(site.Id.data(), header.IdBytes);
        site.Lat = header.Flags & HAS_LAT ? std::optional<double>(header.Lat) : std::nullopt;
        site.Lon = header.Flags & HAS_LON ? std::optional<double>(header.Lon) : std::nullopt;
        RecordValues values;
        Read(values.data(), sizeof values);
        for (std::size_t f = 0; f < CLIMATE_FIELDS.size(); ++f)
            std::copy_n(&values[f * 12], 12, (climate.*CLIMATE_FIELDS[f].Values).begin() + 1);
    }

    // Raises when the chunk holds more than was read.
    void ExpectEnd() {
        if (Position == Bytes.size()) return;
        RecordStart = Position;
        Fail("more than its " + std::to_string(Chunk.Sites) + " sites");
    }

private:
    void Read(void* to, std::size_t bytes) {
        if (bytes > Bytes.size() - Position) Fail("less than its " + std::to_string(Chunk.Sites) + " sites");
        std::memcpy(to, Bytes.data() + Position, bytes);
        Position += bytes;
    }
    [[noreturn]] void Fail(const std::string& what) const {
        throw KelmarError("The part \"" + Chunk.Stream + "\", byte " + std::to_string(Chunk.Offset + RecordStart) +
                          ", holds " + what + ", not what the batch wrote there; remove that chunk's .done file and "
                          "run the batch with --resume to make the chunk again.");
    }

    const ClimatologyChunk& Chunk;
    std::string Bytes;
    std::size_t Position = 0, RecordStart = 0;
};

}  // namespace

std::string SiteClimatologyRecord(std::string_view siteId, std::optional<double> lat, std::optional<double> lon,
                                  const TClimatology& climate) {
    RecordHeader header;
    header.IdBytes = static_cast<std::uint32_t>(siteId.size());
    header.Flags = (lat ? HAS_LAT : 0) | (lon ? HAS_LON : 0);
    header.Lat = lat.value_or(0);
    header.Lon = lon.value_or(0);
    RecordValues values;
    for (std::size_t f = 0; f < CLIMATE_FIELDS.size(); ++f)
        std::copy_n((climate.*CLIMATE_FIELDS[f].Values).begin() + 1, 12, &values[f * 12]);
    std::string bytes(reinterpret_cast<const char*>(&header), sizeof header);
    bytes.append(siteId);
    bytes.append(reinterpret_cast<const char*>(values.data()), sizeof values);
    return bytes;
}

void WriteClimatologyNetcdf(const std::string& file, const std::vector<ClimatologyChunk>& chunks,
                            CfClimatologyDescription description) {
    std::int64_t sites = 0;
    for (const ClimatologyChunk& chunk : chunks) sites += chunk.Sites;
    if (sites > INT_MAX)
        throw KelmarError("Cannot write the file \"" + file + "\": " + std::to_string(sites) +
                          " sites are more than it can hold.");
    description.SiteCount = static_cast<int>(sites);
    const std::unique_ptr<CfClimatologyWriter> writer = NewCfClimatologyWriter(file, description);
    CfSite site;
    TClimatology climate;
    for (const ClimatologyChunk& chunk : chunks) {
        RecordReader records(chunk);
        for (std::int64_t k = 0; k < chunk.Sites; ++k) {
            records.Next(site, climate);
            writer->WriteSite(site, climate);
        }
        records.ExpectEnd();
    }
    writer->Finish();
}

}  // namespace kelmar::batch
