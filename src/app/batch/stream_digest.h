// The checks that let a batch trust bytes it did not write in this process:
// a 64-bit XXH3 digest (Debian's libxxhash) of the bytes each chunk appends
// to each stream, made while they are written, with the count of their
// line ends; and the same read back from a file. Also the digest of a
// whole file, for the inputs a manifest identifies.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "io/file_stream.h"

namespace kelmar::batch {

// 16 hexadecimal digits.
std::string DigestHex(std::uint64_t value);
// The XXH3 64-bit digest of `bytes`.
std::uint64_t DigestOf(std::string_view bytes);

// What a done-file records of a chunk's bytes in one stream.
struct StreamCheck {
    std::uint64_t Hash = 0;  // XXH3 64-bit
    std::int64_t Lines = -1;  // line ends; -1: not counted (a binary stream)
    bool operator==(const StreamCheck&) const = default;
};

// A streamed XXH3 64-bit digest with the count of line ends.
class StreamDigest {
public:
    StreamDigest();
    ~StreamDigest();
    StreamDigest(const StreamDigest&) = delete;
    StreamDigest& operator=(const StreamDigest&) = delete;

    void Reset();
    // `countLines`: the line ends are counted too (a text stream); a
    // binary stream's half megabyte a site is not searched for them.
    void Update(std::string_view bytes, bool countLines = true);
    std::uint64_t Value() const;
    std::int64_t Lines() const { return LineEnds; }

private:
    struct State;
    State* Xxh;
    std::int64_t LineEnds = 0;
};

// A stream of this process as the sinks append to it: each byte goes to the
// file and to the digest of the chunk being written.
class ChunkStream {
public:
    // `countLines`: a text stream, whose line ends are recorded too.
    ChunkStream(AppendingFile& file, bool countLines) : File(file), CountLines(countLines) {}

    void Write(std::string_view bytes) {
        File.Write(bytes);
        Digest.Update(bytes, CountLines);
    }
    void Flush() { File.Flush(); }
    std::uint64_t Size() const { return File.Size(); }
    // A new chunk begins: its digest starts from nothing.
    void StartChunk() { Digest.Reset(); }
    // The check of the chunk's bytes so far.
    StreamCheck Check() const { return {Digest.Value(), CountLines ? Digest.Lines() : -1}; }

private:
    AppendingFile& File;
    bool CountLines;
    StreamDigest Digest;
};

// The check of `length` bytes of the file `path` from byte `offset`
// (lines counted when `countLines`), reading them once; nothing when the
// file is shorter or cannot be read.
std::optional<StreamCheck> CheckOfRange(const std::filesystem::path& path, std::uint64_t offset, std::uint64_t length,
                                        bool countLines);

// The size and digest of the whole file `path`; nothing when it cannot be read.
struct FileIdentity {
    std::uint64_t Size = 0;
    std::uint64_t Hash = 0;
};
std::optional<FileIdentity> IdentifyFile(const std::filesystem::path& path);

}  // namespace kelmar::batch
