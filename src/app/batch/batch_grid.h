// The sites of a batch that take their weather from gridded monthly climate
// (--grid): a site that names no weather_file runs the record of its
// lat/lon, taken as `kelmar-cli extract` takes it. Before the pending chunks
// run, each process extracts the records of every such site of the list
// into parts/grid-records.csv (the tidy weather table the sites then name)
// and the cell each took into cells.csv; a site without a usable cell fails
// with the extraction's message, and the batch goes on.
//
// The grid files are inputs of the batch like the files the sites name
// (their bytes are digested into the manifest), and the options of the
// extraction are recorded, so that a resumed batch, a late shard or a merge
// refuses parts made from another grid. Every process extracts the whole
// list, so that the table is the same whichever process wrote it last; on a
// cluster of many shards, `kelmar-cli extract` once before the batch saves
// the repeated work.
#pragma once

#include <filesystem>
#include <map>
#include <ostream>
#include <string>

#include "app/batch/batch_inputs.h"
#include "app/batch/site_list.h"
#include "app/grid/extract_options.h"

namespace kelmar::batch {

inline constexpr const char* GRID_RECORDS_FILE = "grid-records.csv";  // in parts/
inline constexpr const char* GRID_CELLS_FILE = "cells.csv";

// The table the sites of the grid name: parts/grid-records.csv of `dir`.
std::string GridRecordsPath(const std::filesystem::path& dir);

// Adds the grid files to the inputs (after the files the sites name) and
// folds them into its hash.
void AddGridInputs(BatchInputs& inputs, const grid::ExtractOptions& options);

// XXH3 of the options that decide the records (method, distance, variable
// names and units), 16 hex digits, as the manifest records them.
std::string GridOptionsDigest(const grid::ExtractOptions& options);

// Why each site of the grid has no record, by site id.
using GridFaults = std::map<std::string, std::string>;

// Extracts the records of the list's sites that take their weather from the
// grid into GridRecordsPath(dir) and their cells into dir/cells.csv; notes of
// the reader go to `err`. Raises KelmarError when the grid cannot be read.
GridFaults ExtractGridRecords(const SiteListFile& list, const grid::ExtractOptions& options,
                              const std::filesystem::path& dir, std::ostream& err);

}  // namespace kelmar::batch
