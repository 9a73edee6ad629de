#pragma once

#include <cstddef>
#include <string_view>

namespace velmora {

// The columns a terminal gives a printable code point: 2 for wide letters
// (CJK, Hangul, emoji), 0 for combining marks and zero-width characters, 1
// otherwise.
std::size_t displayWidth(char32_t codePoint);

// The columns a UTF-8 text takes; a byte that is not UTF-8 takes one.
std::size_t displayWidth(std::string_view text);

// The width in columns of the terminal that `fd` writes to; 0 when it is none.
std::size_t terminalColumns(int fd);

} // namespace velmora
