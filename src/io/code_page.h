// The single-byte code page of the data files (Windows-1251, Cyrillic) and
// UTF-8, the encoding of every text inside the program. The writers turn grid
// texts into file bytes; the readers turn offending file text into UTF-8 for
// their error messages.
#pragma once

#include <string>
#include <string_view>

namespace kelmar {

// Each Windows-1251 byte as UTF-8; the one unassigned byte (0x98) becomes '?'.
std::string Cp1251ToUtf8(std::string_view bytes);

// Each character as its Windows-1251 byte; a character the code page lacks,
// and each byte of a malformed UTF-8 sequence, becomes '?'.
std::string Utf8ToCp1251(std::string_view text);

}  // namespace kelmar
