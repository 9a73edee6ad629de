#pragma once

#include <cstddef>
#include <string>

namespace velmora {

// The most bytes that the name of one entry inside `folder` may have on the
// file system that holds it (pathconf's _PC_NAME_MAX; 255 on the usual ones).
// NAME_MAX when the system cannot tell, as for a folder that does not exist;
// SIZE_MAX when the file system sets no limit.
std::size_t folderNameLimit(const std::string& folder);

} // namespace velmora
