// The two readers of a site list against each other: the whole-text parse
// (ParseSiteList) and the batch's reader in two passes (SiteListFile), made
// to read a few bytes at a time and to keep small blocks so that records,
// line ends and empty lines fall across its reads. Both must accept the same
// lists, giving the same sites at the same lines, and refuse the same, with
// the same first line of the message. A disagreement aborts. The same list
// read for a batch with --grid gives its sites without a weather_file the
// grid's records, each with a position.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <unistd.h>

#include "app/batch/site_list.h"
#include "model/errors.h"
#include "model/record_fields.h"

namespace {

// One file per fuzzing process, written again for each input.
const std::string& ListFile() {
    static const std::string name = [] {
        char path[] = "/tmp/kelmar-fuzz-site-list-XXXXXX";
        const int fd = ::mkstemp(path);
        if (fd < 0) {
            std::perror("mkstemp");
            std::abort();
        }
        ::close(fd);
        return std::string(path);
    }();
    static const bool removedAtExit = std::atexit([] { ::unlink(name.c_str()); }) == 0;
    (void)removedAtExit;
    return name;
}

void Write(const std::string& name, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(name.c_str(), "wb");
    if (!file || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) {
        std::perror(name.c_str());
        std::abort();
    }
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

[[noreturn]] void Disagree(const std::string& what) {
    std::fprintf(stderr, "the two readers of a site list disagree: %s\n", what.c_str());
    std::abort();
}

bool SameSite(const kelmar::batch::SiteEntry& a, const kelmar::batch::SiteEntry& b) {
    using namespace kelmar;
    if (a.Id != b.Id || a.Line != b.Line || a.SiteFile != b.SiteFile || a.ClimateFile != b.ClimateFile ||
        a.WeatherFile != b.WeatherFile || a.Seed != b.Seed || a.Lat != b.Lat || a.Lon != b.Lon)
        return false;
    for (const SiteField& field : SITE_FIELDS)
        if (field.Kind == FieldKind::Real ? a.Params.*field.Real != b.Params.*field.Real
                                          : a.Params.*field.Flag != b.Params.*field.Flag)
            return false;
    return true;
}

// The list of a batch with --grid: a site that names no weather_file takes
// the grid's records, and only with a position to take them by.
void CheckGridList(const std::string& name, int blockSites, std::size_t readBytes) {
    using namespace kelmar;
    const std::string records = "/grid/records.csv";
    std::unique_ptr<batch::SiteListFile> list;
    try {
        list = std::make_unique<batch::SiteListFile>(name, blockSites, readBytes, records);
    } catch (const KelmarError&) {
        return;
    }
    for (std::int64_t block = 0; block * blockSites < list->Count(); ++block)
        for (const batch::SiteEntry& site : list->ReadBlock(block)) {
            if (site.FromGrid && (!site.Lat || !site.Lon || site.WeatherFile != records))
                Disagree("a site of the grid without a position or the grid's records");
            if (site.WeatherFile.empty()) Disagree("a site of a grid batch without weather");
        }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kelmar;
    const std::string& name = ListFile();
    Write(name, data, size);
    // The sizes of the reads and blocks follow from the input, so that a
    // finding repeats.
    const std::uint64_t hash = batch::Fnv1a64(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::size_t readBytes = 1 + hash % 64;
    const int blockSites = 1 + static_cast<int>((hash >> 8) % 4);

    batch::SiteList whole;
    std::string wholeError;
    try {
        whole = batch::ReadSiteList(name);
    } catch (const KelmarError& e) {
        wholeError = e.what();
    }
    std::unique_ptr<batch::SiteListFile> passes;
    std::string passesError;
    try {
        passes = std::make_unique<batch::SiteListFile>(name, blockSites, readBytes);
    } catch (const KelmarError& e) {
        passesError = e.what();
    }
    if (FirstLine(wholeError) != FirstLine(passesError))
        Disagree("whole: \"" + FirstLine(wholeError) + "\", in two passes: \"" + FirstLine(passesError) + "\"");
    if (!passes) return 0;

    if (passes->Count() != static_cast<std::int64_t>(whole.Sites.size())) Disagree("the number of sites");
    if (passes->Hash() != batch::Fnv1a64(whole.Bytes)) Disagree("the hash");
    if (passes->FormulaIds().Count != whole.FormulaIds.Count || passes->FormulaIds().First != whole.FormulaIds.First)
        Disagree("the ids a spreadsheet takes for formulas");
    std::int64_t lastWithoutSeed = -1;
    for (std::size_t k = 0; k < whole.Sites.size(); ++k)
        if (!whole.Sites[k].Seed) lastWithoutSeed = static_cast<std::int64_t>(k);
    if (passes->LastWithoutSeed() != lastWithoutSeed) Disagree("the last site without a seed");
    std::size_t next = 0;
    for (std::int64_t block = 0; next < whole.Sites.size(); ++block) {
        std::vector<batch::SiteEntry> sites;
        try {
            sites = passes->ReadBlock(block);
        } catch (const KelmarError& e) {
            Disagree(std::string("block ") + std::to_string(block) + " refused: " + e.what());
        }
        if (sites.empty()) Disagree("an empty block");
        for (const batch::SiteEntry& site : sites)
            if (next >= whole.Sites.size() || !SameSite(site, whole.Sites[next++]))
                Disagree("site " + std::to_string(next - 1) + " of block " + std::to_string(block));
    }
    CheckGridList(name, blockSites, readBytes);
    return 0;
}
