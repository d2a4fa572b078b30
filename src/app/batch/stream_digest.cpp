#include "app/batch/stream_digest.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>
#include <system_error>
#include <vector>

#include <xxhash.h>

namespace kelmar::batch {

namespace {

// Reads of a mebibyte: large enough that a file is read at the disk's pace.
constexpr std::size_t READ_BYTES = std::size_t{1} << 20;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

struct StreamDigest::State {
    XXH3_state_t* Xxh = nullptr;
};

std::string DigestHex(std::uint64_t value) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

std::uint64_t DigestOf(std::string_view bytes) { return XXH3_64bits(bytes.data(), bytes.size()); }

StreamDigest::StreamDigest() : Xxh(new State) {
    Xxh->Xxh = XXH3_createState();
    if (!Xxh->Xxh) {
        delete Xxh;
        throw std::bad_alloc();
    }
    Reset();
}

StreamDigest::~StreamDigest() {
    XXH3_freeState(Xxh->Xxh);
    delete Xxh;
}

void StreamDigest::Reset() {
    XXH3_64bits_reset(Xxh->Xxh);
    LineEnds = 0;
}

void StreamDigest::Update(std::string_view bytes, bool countLines) {
    XXH3_64bits_update(Xxh->Xxh, bytes.data(), bytes.size());
    if (countLines) LineEnds += std::count(bytes.begin(), bytes.end(), '\n');
}

std::uint64_t StreamDigest::Value() const { return XXH3_64bits_digest(Xxh->Xxh); }

std::optional<StreamCheck> CheckOfRange(const std::filesystem::path& path, std::uint64_t offset, std::uint64_t length,
                                        bool countLines) {
    const File file(std::fopen(path.c_str(), "rb"));
    if (!file || ::fseeko(file.get(), static_cast<off_t>(offset), SEEK_SET) != 0) return std::nullopt;
    StreamDigest digest;
    std::vector<char> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(length, READ_BYTES)));
    while (length > 0) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(length, buffer.size()));
        const std::size_t got = std::fread(buffer.data(), 1, want, file.get());
        if (got != want) return std::nullopt;
        digest.Update(std::string_view(buffer.data(), got), countLines);
        length -= got;
    }
    return StreamCheck{digest.Value(), countLines ? digest.Lines() : -1};
}

std::optional<FileIdentity> IdentifyFile(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
    const File file(std::fopen(path.c_str(), "rb"));
    if (!file) return std::nullopt;
    StreamDigest digest;
    FileIdentity identity;
    std::vector<char> buffer(READ_BYTES);
    std::size_t got;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0) {
        digest.Update(std::string_view(buffer.data(), got), false);
        identity.Size += got;
    }
    if (std::ferror(file.get())) return std::nullopt;
    identity.Hash = digest.Value();
    return identity;
}

}  // namespace kelmar::batch
