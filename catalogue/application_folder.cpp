#include "catalogue/application_folder.h"

#include <string_view>
#include <unistd.h>

namespace velmora {

std::string executableFolder() {
    // The kernel's link names the executable's current place; Qt's
    // applicationDirPath() would give the place it had at start-up.
    std::string path(256, '\0');
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
        if (length < 0) {
            return {};
        }
        if (static_cast<std::size_t>(length) < path.size()) {
            path.resize(static_cast<std::size_t>(length));
            break;
        }
        path.resize(path.size() * 2);
    }
    // An executable replaced or removed on disk is named "<path> (deleted)";
    // its folder is still the collection.
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.ends_with(kDeleted)) {
        path.resize(path.size() - kDeleted.size());
    }
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return {};
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

} // namespace velmora
