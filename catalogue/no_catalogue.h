#pragma once

#include <string>
#include <string_view>

namespace velmora {

// What to tell someone whose collection folder holds no catalogue: the folder,
// and the command that makes one there, which can be pasted into a shell.
std::string noCatalogueDescription(std::string_view folder);

} // namespace velmora
