#pragma once

#include <optional>
#include <string_view>
#include <vector>

// Index keys of Text and Memo values in the engine's "General" sort order (id
// 1033, version 0: what Jet 4 gives a new database). A key holds, after the
// flag 0x7F:
//   - each character's sort weights (letters that differ only in case weigh
//     the same; ligatures such as "æ" or "ß" weigh as the letters they stand
//     for), then 0x01;
//   - one accent weight per weighed letter, trailing plain ones (0x02) left out;
//   - for characters the order passes over when it weighs (the apostrophe,
//     the hyphen, control characters): 0x01 0x01 0x01, then each one's place
//     (0x8000 + 4 * letters weighed before it + 7, big-endian), 0x06 and its
//     weight;
//   - the end, 0x00.
// Trailing spaces are not keyed, and only the first 255 characters are.
// The weights were measured (devtools/text_keys/README.md).
namespace velmora::jet {

// The sort orders the encoder knows, as a column's definition names them.
inline constexpr unsigned kGeneralSortOrder = 1033;
inline constexpr unsigned kGeneralSortVersion = 0;

struct TextKey {
    std::vector<unsigned char> bytes; // the ascending key, flag and end included
    // The first character whose weights are not known (kana, combining
    // marks, ...): no key then.
    std::optional<char16_t> unknown;
};

// The ascending key of a non-NULL value.
TextKey generalTextKey(std::u16string_view text);

} // namespace velmora::jet
