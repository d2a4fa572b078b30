// The list of sites a batch runs: a comma-separated file (UTF-8, header row)
// with a site_id column, then either site_file (a .sit path relative to the
// list's folder) or one column per site parameter (the keys of the site
// file), then the weather: climate_file (simulated weather) and/or
// weather_file (observed; .wed, or a tidy .csv holding this site_id), an
// optional seed (the random state) and optional lat/lon for maps.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/model_state.h"

namespace kelmar::batch {

// The labels of a list that begin with a character a spreadsheet takes for
// the start of a formula (=, +, - or @): kept exactly as given, but the user
// is warned that a spreadsheet may read them as formulas.
struct FormulaLabels {
    static constexpr std::size_t SHOWN = 3;  // labels named in the warning; the rest are counted
    std::int64_t Count = 0;
    std::vector<std::string> First;

    void Note(const std::string& label);
};

// The warning for `labels` ("3 site ids begin with ..."), `what` naming them
// in the plural ("site ids", "scenario names"); none when there is none.
std::optional<std::string> FormulaWarning(const FormulaLabels& labels, const std::string& what);

struct SiteEntry {
    std::string Id;
    int Line = 0;                  // of the site list, for messages
    std::string SiteFile;          // path as the reader takes it; empty when the parameters are columns
    TSiteParams Params;            // the columns' parameters over the site-file defaults (no site_file)
    std::string ClimateFile;       // empty when not given
    std::string WeatherFile;       // empty: simulated weather
    std::optional<std::uint32_t> Seed;
    std::optional<double> Lat, Lon;  // degrees north and east, for maps (and --grid)
    // The row names no weather_file and takes its record from the batch's
    // grid (--grid): WeatherFile is then the table of the records extracted.
    bool FromGrid = false;
};

struct SiteList {
    std::string FileName;
    std::string Bytes;  // the file as read: its hash identifies the batch
    std::vector<SiteEntry> Sites;
    FormulaLabels FormulaIds;  // ids a spreadsheet would take for formulas
};

// Reads and checks the whole list before anything runs. A UTF-16 file,
// unknown or repeated columns, both site_file and parameter columns, a row
// without a weather source, an empty or repeated id, an id that is not UTF-8
// or holds a control character, a NUL byte in any field, a value that does
// not convert, a flag outside 0..255 (FlagValue): raises
// KelmarError listing each fault with its line (up to SHOWN_LIST_ERRORS, list_faults.h).
// Whether the named files exist is left to each site's run.
SiteList ReadSiteList(const std::string& fileName);
SiteList ParseSiteList(std::string bytes, const std::string& fileName, const std::string& folder);

// FNV-1a, 64 bits, of `bytes` continued from `hash`: identifies a list's
// bytes (not a guard against forgery, only against joining the parts of two
// different lists).
inline constexpr std::uint64_t FNV1A64_BASIS = 14695981039346656037ull;
std::uint64_t Fnv1a64(std::string_view bytes, std::uint64_t hash = FNV1A64_BASIS);

// A site list read in two passes, so that a list of millions of sites is
// never held whole: the first pass reads and checks all of it (the faults
// of ReadSiteList, each with its line, before anything runs) and keeps only
// where each block of sites begins; the sites of a block are read again when
// they are needed. A list that is no regular file (a pipe) is held whole.
// Bytes read at a time in the passes over a list.
inline constexpr std::size_t SITE_LIST_READ_BYTES = std::size_t{1} << 20;

class SiteListFile {
public:
    // `readBytes` only sets how much is read at a time (tests and fuzzers
    // make it small to put records across reads); the result is the same.
    // With `gridRecords`, the batch's sites take their weather from a grid
    // where they name no weather_file: such a row needs lat and lon, and
    // its WeatherFile is `gridRecords`, the table of the grid's records.
    SiteListFile(const std::string& fileName, int blockSites, std::size_t readBytes = SITE_LIST_READ_BYTES,
                 const std::string& gridRecords = std::string());
    ~SiteListFile();
    SiteListFile(const SiteListFile&) = delete;
    SiteListFile& operator=(const SiteListFile&) = delete;

    const std::string& FileName() const;
    std::int64_t Count() const;
    // Fnv1a64 of the list's bytes.
    std::uint64_t Hash() const;
    // The last site (from 0) without a seed of its own; -1 when none.
    std::int64_t LastWithoutSeed() const;
    const FormulaLabels& FormulaIds() const;
    // The sites block * blockSites onwards (blockSites of them, fewer in the
    // last block). Raises KelmarError when the file has changed since it
    // was checked: a block's bytes differ, or the file has grown or shrunk.
    std::vector<SiteEntry> ReadBlock(std::int64_t block) const;
    // Raises the error of a changed list unless the file still holds the
    // bytes checked: rows added after the last block was read are found
    // here, before the batch says it finished. A list that is no regular
    // file (a pipe) cannot be read again and is taken as it was.
    void CheckUnchanged() const;

private:
    struct State;
    std::unique_ptr<State> Impl;
};

}  // namespace kelmar::batch
