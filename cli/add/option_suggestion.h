#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// The option of `known` closest to the mistyped `given` ("--prgram" gives
// "--program"), or empty when none is close enough to be what was meant.
// CLI11 reports an unknown option without a suggestion, so we make our own.
std::string closestOption(std::string_view given, const std::vector<std::string>& known);

} // namespace velmora
