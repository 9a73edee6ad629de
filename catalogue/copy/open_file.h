#pragma once

#include <string>
#include <sys/stat.h>

namespace velmora {

// The path under /proc/self/fd for the file that `fd` holds open: opening or
// linking it reaches that very file, whatever its name is by now.
inline std::string descriptorPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

// Whether two stats are of one file.
inline bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace velmora
