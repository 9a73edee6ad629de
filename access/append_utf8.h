#pragma once

#include <string>

namespace velmora {

// Appends code point `c` (at most U+10FFFF) to `out` as UTF-8. Here, at the
// bottom of the components, so that the Access reader and writer and the
// catalogue's name comparison share it.
void appendUtf8(std::string& out, char32_t c);

} // namespace velmora
