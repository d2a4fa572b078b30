#include "app/region/region_open.h"

#include <filesystem>
#include <system_error>

#include "io/path_names.h"

namespace kelmar::region {

std::optional<RegionBatch> OpenRegionFolder(const std::string& dir, const std::string& programVersion,
                                            const std::function<std::optional<std::string>()>& askList) {
    const std::filesystem::path folder = PathOf(dir);
    std::error_code ignored;
    if (std::filesystem::exists(folder / "results.nc", ignored) || !std::filesystem::exists(folder / "manifest.txt", ignored))
        return RegionBatch::Open(dir, programVersion);  // a folder without a batch is refused there, by name
    if (const std::filesystem::path kept = folder / KEPT_SITE_LIST; std::filesystem::exists(kept, ignored))
        return RegionBatch::Open(dir, programVersion, Utf8Name(kept));
    const std::optional<std::string> list = askList();
    if (!list) return std::nullopt;
    return RegionBatch::Open(dir, programVersion, *list);
}

}  // namespace kelmar::region
