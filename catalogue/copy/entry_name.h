#pragma once

#include <string_view>

namespace velmora {

// A name that stands for exactly one entry inside a folder: not empty, not "."
// or "..", and without "/" (or a NUL, which no path can hold).
bool isSingleFolderName(std::string_view name);

} // namespace velmora
