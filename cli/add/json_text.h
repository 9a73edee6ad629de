#pragma once

#include <string>
#include <string_view>

namespace velmora {

// Appends `text` to `out` as a JSON string, quotes included: quotes,
// backslashes and control characters escaped, and every byte that is not
// part of valid UTF-8 replaced by U+FFFD, so any stored text gives a line
// that every JSON reader parses.
void appendJsonString(std::string& out, std::string_view text);

} // namespace velmora
