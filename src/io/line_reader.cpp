#include "io/line_reader.h"

namespace kelmar {

namespace {

constexpr char END_OF_FILE_MARK = '\x1A';

}  // namespace

LineReader::LineReader(std::string_view bytes) : Rest(bytes.substr(0, bytes.find(END_OF_FILE_MARK))) {}

std::string LineReader::ReadLine() {
    ++LinesRead;
    const std::size_t end = Rest.find('\n');
    const std::string_view raw = Rest.substr(0, end);
    Rest.remove_prefix(end == std::string_view::npos ? Rest.size() : end + 1);
    // The CR of a CR LF and every lone CR leave the line alike.
    std::string line;
    line.reserve(raw.size());
    for (char c : raw)
        if (c != '\r') line += c;
    return line;
}

}  // namespace kelmar
