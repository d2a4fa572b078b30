// The share of a site list a process runs: from --shard K/N, or from the
// environment a cluster launcher gives each of its processes.
#include <cstdint>
#include <string>

#include "app/batch/batch_records.h"
#include "app/batch/batch_run.h"
#include "model/errors.h"

namespace kelmar::batch {

Shard ParseShard(const std::string& text) {
    const std::size_t slash = text.find('/');
    const std::int64_t k = slash == std::string::npos ? -1 : ToInt(text.substr(0, slash));
    const std::int64_t n = slash == std::string::npos ? -1 : ToInt(text.substr(slash + 1));
    if (k < 0 || n < 1 || k >= n || n > 1000000)
        throw KelmarError("The shard '" + text + "' is not K/N with 0 <= K < N (for example 0/4).");
    return {static_cast<int>(k), static_cast<int>(n)};
}

std::optional<Shard> ShardFromEnvironment(const std::function<const char*(const char*)>& getenv) {
    struct Pair {
        const char* Index;
        const char* Count;
        const char* Offset;  // subtracted from the index when set
    };
    constexpr Pair LAUNCHERS[] = {
        {"SLURM_ARRAY_TASK_ID", "SLURM_ARRAY_TASK_COUNT", "SLURM_ARRAY_TASK_MIN"},
        {"SLURM_PROCID", "SLURM_NTASKS", nullptr},
        {"OMPI_COMM_WORLD_RANK", "OMPI_COMM_WORLD_SIZE", nullptr},
        {"PMI_RANK", "PMI_SIZE", nullptr},
    };
    for (const Pair& launcher : LAUNCHERS) {
        const char* index = getenv(launcher.Index);
        const char* count = getenv(launcher.Count);
        if (!index || !count) continue;
        std::int64_t k = ToInt(index), n = ToInt(count);
        const char* offset = launcher.Offset ? getenv(launcher.Offset) : nullptr;
        if (offset) k -= ToInt(offset, 0);
        if (k < 0 || n < 1 || k >= n)
            throw KelmarError(std::string("The launcher's ") + launcher.Index + "=" + index + " and " + launcher.Count +
                              "=" + count + " do not make a share of the site list; give --shard K/N.");
        if (n == 1) return std::nullopt;
        return Shard{static_cast<int>(k), static_cast<int>(n)};
    }
    return std::nullopt;
}

}  // namespace kelmar::batch
