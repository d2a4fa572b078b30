#include "app/batch/sinks/batch_sink.h"

#include <system_error>

#include "io/path_names.h"

namespace fs = std::filesystem;

namespace kelmar::batch {

void JoinCsvTable(const JoinedChunks& chunks, const StreamSpec& table, std::size_t stream, const std::string& output) {
    const fs::path target = chunks.Dir / output;
    const std::string& stem = chunks.Records.front().Stream;
    const fs::path first = StreamPath(chunks.Dir, stem, table);
    bool whole = true;
    std::uint64_t end = table.Header.size();
    for (const ChunkRecord& chunk : chunks.Records) {
        const ByteRange& range = chunks.Range(chunk, stream);
        whole = whole && chunk.Stream == stem && range.Offset == end;
        end = range.End();
    }
    std::error_code error;
    whole = whole && fs::file_size(first, error) == end && !error;
    if (whole && LinkFileDurably(Utf8Name(first), Utf8Name(target))) return;
    DurableFileStream out(Utf8Name(target));
    out.Write(table.Header);
    for (const ChunkRecord& chunk : chunks.Records) {
        const ByteRange& range = chunks.Range(chunk, stream);
        out.CopyRange(Utf8Name(StreamPath(chunks.Dir, chunk.Stream, table)), range.Offset, range.Bytes);
    }
    out.Commit();
}

}  // namespace kelmar::batch
