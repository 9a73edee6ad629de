#include "catalogue/copy/source_file.h"

#include "catalogue/copy/copy_error.h"

#include <cerrno>
#include <fcntl.h>

namespace velmora {

OpenedSource openSource(const std::string& path, FileSystem& fs) {
    // A NUL would cut the path short and name another file than the one given.
    if (path.find('\0') != std::string::npos) {
        return {{}, systemError(EINVAL)};
    }
    Descriptor file(fs, fs.openAt(AT_FDCWD, path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK, 0));
    if (!file.valid()) {
        return {{}, systemError(errno)};
    }
    struct stat st {};
    if (fs.fstat(file.get(), &st) != 0) {
        return {{}, systemError(errno)};
    }
    if (S_ISDIR(st.st_mode)) {
        return {{}, systemError(EISDIR)};
    }
    if (!S_ISREG(st.st_mode)) {
        return {{}, CopyError::SourceNotAFile};
    }
    return {std::move(file), {}};
}

} // namespace velmora
