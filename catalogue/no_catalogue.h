#pragma once

#include <string>
#include <string_view>

namespace velmora {

// What to tell someone whose collection folder holds no catalogue: the folder,
// and the command that makes one there, which can be pasted into a shell.
// `initProgram` is velmora2-init's full path where the caller knows it.
std::string noCatalogueDescription(std::string_view folder, std::string_view initProgram = {});

} // namespace velmora
