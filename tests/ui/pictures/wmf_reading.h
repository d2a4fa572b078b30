// Reads back a standard Windows metafile as the tests need it: the
// placeable header, the metafile header and the records as 16-bit words.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace kelmar::ui::testing {

struct WmfRecord {
    std::uint16_t Function = 0;
    std::vector<std::uint16_t> Parameters;

    std::int16_t Signed(std::size_t i) const { return static_cast<std::int16_t>(Parameters.at(i)); }
    // The bytes packed two to a word from parameter `first` on.
    std::string Bytes(std::size_t first, std::size_t count) const {
        std::string bytes;
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint16_t word = Parameters.at(first + i / 2);
            bytes.push_back(static_cast<char>(i % 2 == 0 ? word & 0xFF : word >> 8));
        }
        return bytes;
    }
};

struct WmfFile {
    std::vector<std::uint16_t> Placeable;  // 11 words, checksum last
    std::vector<std::uint16_t> Header;     // 9 words
    std::vector<WmfRecord> Records;        // end-of-file record last

    std::vector<WmfRecord> All(std::uint16_t function) const {
        std::vector<WmfRecord> found;
        for (const WmfRecord& r : Records)
            if (r.Function == function) found.push_back(r);
        return found;
    }
};

inline std::uint16_t WordAt(const std::string& bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes.at(offset)) |
                                      (static_cast<unsigned char>(bytes.at(offset + 1)) << 8));
}

inline std::uint32_t DoubleWord(std::uint16_t low, std::uint16_t high) {
    return static_cast<std::uint32_t>(low) | (static_cast<std::uint32_t>(high) << 16);
}

// Splits `bytes` into records; a size that runs past the end or a missing
// end-of-file record fails the test.
inline WmfFile ReadWmf(const std::string& bytes) {
    constexpr std::size_t PLACEABLE_BYTES = 22, HEADER_BYTES = 18;
    WmfFile file;
    if (bytes.size() < PLACEABLE_BYTES + HEADER_BYTES) {
        ADD_FAILURE() << "a metafile of " << bytes.size() << " bytes has no room for its headers";
        return file;
    }
    for (std::size_t i = 0; i < PLACEABLE_BYTES; i += 2) file.Placeable.push_back(WordAt(bytes, i));
    for (std::size_t i = 0; i < HEADER_BYTES; i += 2) file.Header.push_back(WordAt(bytes, PLACEABLE_BYTES + i));
    std::size_t offset = PLACEABLE_BYTES + HEADER_BYTES;
    while (offset + 6 <= bytes.size()) {
        const std::uint32_t words = DoubleWord(WordAt(bytes, offset), WordAt(bytes, offset + 2));
        if (words < 3 || offset + 2 * std::size_t{words} > bytes.size()) {
            ADD_FAILURE() << "record at byte " << offset << " claims " << words << " words";
            return file;
        }
        WmfRecord record{WordAt(bytes, offset + 4), {}};
        for (std::size_t i = 3; i < words; ++i) record.Parameters.push_back(WordAt(bytes, offset + 2 * i));
        file.Records.push_back(record);
        offset += 2 * std::size_t{words};
    }
    EXPECT_EQ(offset, bytes.size()) << "bytes after the last record";
    EXPECT_TRUE(!file.Records.empty() && file.Records.back().Function == 0) << "no end-of-file record last";
    return file;
}

// A drawing record with the objects selected when it was played.
struct DrawnRecord {
    std::uint16_t Function = 0;
    std::vector<std::uint16_t> Parameters;
    std::vector<std::uint16_t> Pen, Brush, Font;  // parameters of their create records
};

// Plays the records as a player keeps its object table: each created object
// takes the lowest free slot, only live objects are selected, and no object
// is deleted while selected. Any breach fails the test.
inline std::vector<DrawnRecord> Play(const WmfFile& file) {
    enum Kind { PEN, BRUSH, FONT, KINDS };
    struct Object {
        Kind kind;
        std::vector<std::uint16_t> parameters;
    };
    std::vector<std::optional<Object>> table;
    std::array<std::optional<std::size_t>, KINDS> selected;
    std::vector<DrawnRecord> drawn;
    const auto parametersOf = [&](Kind kind) {
        return selected[kind] ? table[*selected[kind]]->parameters : std::vector<std::uint16_t>{};
    };
    for (const WmfRecord& r : file.Records) {
        std::optional<Kind> created;
        if (r.Function == 0x02FA) created = PEN;
        if (r.Function == 0x02FC) created = BRUSH;
        if (r.Function == 0x02FB) created = FONT;
        if (created) {
            std::size_t slot = 0;
            while (slot < table.size() && table[slot]) ++slot;
            if (slot == table.size()) table.emplace_back();
            table[slot] = Object{*created, r.Parameters};
        } else if (r.Function == 0x012D) {
            const std::size_t slot = r.Parameters.at(0);
            if (slot >= table.size() || !table[slot]) {
                ADD_FAILURE() << "selects the empty slot " << slot;
                continue;
            }
            selected[table[slot]->kind] = slot;
        } else if (r.Function == 0x01F0) {
            const std::size_t slot = r.Parameters.at(0);
            if (slot >= table.size() || !table[slot]) {
                ADD_FAILURE() << "deletes the empty slot " << slot;
                continue;
            }
            EXPECT_NE(selected[table[slot]->kind], slot) << "deletes the selected object in slot " << slot;
            table[slot].reset();
        } else if (r.Function == 0x0325 || r.Function == 0x0324 || r.Function == 0x0538 || r.Function == 0x041B ||
                   r.Function == 0x0A32) {
            drawn.push_back({r.Function, r.Parameters, parametersOf(PEN), parametersOf(BRUSH), parametersOf(FONT)});
        }
    }
    EXPECT_LE(table.size(), std::size_t{file.Header.at(5)}) << "object table larger than the header says";
    return drawn;
}

}  // namespace kelmar::ui::testing
