#pragma once

#include <cstddef>
#include <string_view>

namespace velmora {

// One code point read from the start of a UTF-8 text.
struct Utf8Character {
    char32_t codePoint = 0;
    std::size_t length = 0; // bytes; 0 when the first byte starts no well-formed sequence
};

// Decodes the code point that starts `text` (not empty), by RFC 3629: no
// overlong forms, no surrogates, nothing above U+10FFFF. Not std::mbrtoc32,
// which follows the process's locale: the texts are UTF-8 whatever it says.
Utf8Character decodeUtf8(std::string_view text);

// Where the first byte of `text` that is not part of well-formed UTF-8 stands;
// text.size() when there is none.
std::size_t firstNonUtf8(std::string_view text);

} // namespace velmora
