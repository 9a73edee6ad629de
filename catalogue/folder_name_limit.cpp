#include "catalogue/folder_name_limit.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <unistd.h>

namespace velmora {

std::size_t folderNameLimit(const std::string& folder) {
    errno = 0;
    const long limit = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    if (limit >= 0) {
        return static_cast<std::size_t>(limit);
    }
    // -1 with errno untouched means no limit; with errno set, no answer.
    return errno == 0 ? SIZE_MAX : NAME_MAX;
}

} // namespace velmora
