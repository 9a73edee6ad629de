#include "catalogue/copy/source_file.h"

#include "catalogue/copy/copy_error.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/statfs.h>

namespace velmora {
namespace {

// File systems whose files the kernel makes up as they are read: their sizes
// say nothing (most are 0 or 4096 whatever they hold), and reading them twice
// gives two contents, so a copy could never be checked against its source.
bool isKernelMadeFileSystem(__fsword_t type) {
    switch (static_cast<unsigned long>(type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case 0x62656570: // configfs, which linux/magic.h does not name
    case PSTOREFS_MAGIC:
    case EFIVARFS_MAGIC:
    case BPF_FS_MAGIC:
    case SELINUX_MAGIC:
    case SMACK_MAGIC:
    case NSFS_MAGIC:
    case BINFMTFS_MAGIC:
    case 0x65735543: // fusectl, likewise
        return true;
    default:
        return false;
    }
}

} // namespace

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
    struct statfs where {};
    if (fs.fstatfs(file.get(), &where) == 0 && isKernelMadeFileSystem(where.f_type)) {
        return {{}, CopyError::SourceNotOnDisk};
    }
    return {std::move(file), {}};
}

} // namespace velmora
