#include "app/batch/batch_inputs.h"

#include <unordered_map>

#include "app/batch/batch_run.h"
#include "app/batch/stream_digest.h"
#include "io/climatology_table.h"
#include "io/data_file_names.h"
#include "io/path_names.h"
#include "io/weather_file.h"
#include "io/weather_table.h"

namespace kelmar::batch {

namespace {

constexpr const char* MISSING = "missing";

std::string IdentityOf(const std::string& path) {
    const std::optional<FileIdentity> identity = IdentifyFile(PathOf(path));
    return identity ? std::to_string(identity->Size) + ":" + DigestHex(identity->Hash) : MISSING;
}

// The files a site's run reads, under the names its readers open.
std::vector<std::string> FilesOf(const SiteEntry& site) {
    std::vector<std::string> files;
    if (!site.SiteFile.empty()) files.push_back(SiteFileName(site.SiteFile));
    if (!site.ClimateFile.empty()) files.push_back(ClimatologyFileName(site.ClimateFile));
    // The records of a grid's sites are made by the batch; the grid files are its inputs.
    if (!site.WeatherFile.empty() && !site.FromGrid)
        files.push_back(IsWeatherTableName(site.WeatherFile) ? site.WeatherFile : WeatherFileName(site.WeatherFile));
    return files;
}

std::string SizeText(const std::string& identity) {
    return identity == MISSING ? std::string("missing") : identity.substr(0, identity.find(':')) + " bytes";
}

}  // namespace

std::vector<std::string> BatchInputs::Identities() const {
    std::vector<std::string> identities;
    for (const InputFile& file : Files) identities.push_back(file.Identity);
    return identities;
}

std::string FoldIdentities(const std::vector<std::string>& identities) {
    std::string all;
    for (const std::string& identity : identities) all += identity + "\n";
    return DigestHex(DigestOf(all));
}

InputFile IdentifyInput(const std::string& path, int line) { return {path, line, IdentityOf(path)}; }

BatchInputs IdentifyInputs(const SiteListFile& list) {
    BatchInputs inputs;
    // A list of thousands of sites often shares one climatology: each file is read once.
    std::unordered_map<std::string, std::size_t> seen;
    for (std::int64_t block = 0; block * CHUNK_SITES < list.Count(); ++block)
        for (const SiteEntry& site : list.ReadBlock(block)) {
            inputs.ObservedWeather |= !site.WeatherFile.empty();
            for (const std::string& path : FilesOf(site))
                if (seen.emplace(path, inputs.Files.size()).second)
                    inputs.Files.push_back({path, site.Line, IdentityOf(path)});
        }
    inputs.Hash = FoldIdentities(inputs.Identities());
    return inputs;
}

std::string DescribeInputChange(const BatchInputs& current, const std::vector<std::string>& recorded,
                                const std::string& listName) {
    for (std::size_t k = 0; k < current.Files.size(); ++k) {
        const InputFile& file = current.Files[k];
        const std::string where = "\"" + file.Path + "\" (" +
                                  (file.Line > 0 ? "first named on line " + std::to_string(file.Line) + " of \"" +
                                                       listName + "\")"
                                                 : std::string("given with --grid)"));
        if (k >= recorded.size()) return where + " is a file the batch did not read";
        if (recorded[k] == file.Identity) continue;
        if (file.Identity == MISSING || recorded[k] == MISSING || SizeText(file.Identity) != SizeText(recorded[k]))
            return where + " is " + SizeText(file.Identity) + ", the batch read " + SizeText(recorded[k]);
        return where + " holds other bytes than the file of that size the batch read";
    }
    if (recorded.size() != current.Files.size()) return "the list names fewer files than the batch read";
    return {};
}

}  // namespace kelmar::batch
