#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace velmora {

// One character of UTF-8 text: its code point and how many bytes it takes.
struct CodePoint {
    char32_t value = 0;
    std::size_t length = 0;
};

// The character that starts `text`; nothing when `text` is empty or starts
// with a sequence that is not well-formed UTF-8 (RFC 3629: no overlong forms,
// no surrogates, nothing above U+10FFFF). Not std::mbrtoc32, which follows
// the process's locale: our texts are UTF-8 whatever the locale says.
std::optional<CodePoint> decodeUtf8(std::string_view text);

} // namespace velmora
