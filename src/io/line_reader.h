// Reads the lines of a data file held in memory, the same way for every
// format: a line ends at LF or CR LF, a CR not followed by LF is dropped, the
// byte 0x1A (the old end-of-file mark) ends the file, and reading at the end
// gives an empty line.
#pragma once

#include <string>
#include <string_view>

namespace kelmar {

class LineReader {
public:
    // The reader refers to `bytes`, which must outlive it.
    explicit LineReader(std::string_view bytes);

    bool AtEnd() const { return Rest.empty(); }
    // The next line without its line end; empty at the end of the file.
    std::string ReadLine();
    // The number of the line ReadLine gave last, from 1; 0 before the first.
    // Reading at the end counts too, as the lines an error message names
    // must match what the reader took them for.
    int LineNumber() const { return LinesRead; }

private:
    std::string_view Rest;
    int LinesRead = 0;
};

}  // namespace kelmar
