#include "catalogue/copy/temporary_file.h"

#include "catalogue/copy/copy_error.h"
#include "catalogue/copy/open_file.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <random>
#include <sys/file.h>
#include <vector>

namespace velmora {
namespace {

constexpr std::string_view kMark = ".velmora2-";
constexpr std::size_t kRandomLength = 6;
constexpr std::string_view kLetters =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr int kNameAttempts = 100;

std::string temporaryName(std::string_view target, std::mt19937& random) {
    std::uniform_int_distribution<std::size_t> pick(0, kLetters.size() - 1);
    std::string name = ".";
    name += target;
    name += kMark;
    for (std::size_t i = 0; i < kRandomLength; ++i) {
        name += kLetters[pick(random)];
    }
    return name;
}

// The file system has no unnamed files: old kernels answer EISDIR, file
// systems without support EOPNOTSUPP.
bool noUnnamedFiles(int error) {
    return error == EOPNOTSUPP || error == ENOTSUP || error == EISDIR || error == EINVAL;
}

// Calls `create` with fresh marked names until it succeeds, or fails for
// another reason than a name already taken; sets `name` to the one taken.
std::error_code underFreshName(std::string_view target,
                               const std::function<bool(const std::string&)>& create,
                               std::string& name) {
    std::mt19937 random(std::random_device{}());
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string candidate = temporaryName(target, random);
        if (create(candidate)) {
            name = std::move(candidate);
            return {};
        }
        if (errno != EEXIST) {
            return systemError(errno);
        }
    }
    return systemError(EEXIST);
}

} // namespace

TemporaryFile::TemporaryFile(FileSystem& fs, int folder, std::string_view target)
    : m_fs(fs), m_folder(folder), m_target(target) {
    const int unnamed = m_fs.openAt(m_folder, ".", O_TMPFILE | O_WRONLY, S_IRUSR | S_IWUSR);
    if (unnamed >= 0) {
        m_file = Descriptor(m_fs, unnamed);
        // Locked now, so that the name it gets later is never free for a
        // clean-up to take.
        m_fs.flock(unnamed, LOCK_EX | LOCK_NB);
        return;
    }
    if (!noUnnamedFiles(errno)) {
        m_error = systemError(errno);
        return;
    }
    int fd = -1;
    m_error = underFreshName(
        m_target,
        [&](const std::string& name) {
            fd = m_fs.openAt(m_folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW,
                             S_IRUSR | S_IWUSR);
            return fd >= 0;
        },
        m_name);
    if (m_error) {
        return;
    }
    m_file = Descriptor(m_fs, fd);
    // A fresh file is locked by nobody. Where locks are not supported, no
    // clean-up can take one either, so none removes it.
    m_fs.flock(fd, LOCK_EX | LOCK_NB);
}

TemporaryFile::~TemporaryFile() {
    // Removed by name while the lock is still held, so the name still is ours.
    if (!m_name.empty() && m_file.valid()) {
        const int saved = errno;
        m_fs.unlinkAt(m_folder, m_name.c_str(), 0);
        errno = saved;
    }
}

std::error_code TemporaryFile::giveName() {
    const std::string viaProc = descriptorPath(m_file.get());
    return underFreshName(
        m_target,
        [&](const std::string& name) {
            // Linking a descriptor needs a privilege; its /proc entry does not.
            if (m_fs.linkAt(m_file.get(), "", m_folder, name.c_str(), AT_EMPTY_PATH) == 0) {
                return true;
            }
            return (errno == ENOENT || errno == EPERM) &&
                   m_fs.linkAt(AT_FDCWD, viaProc.c_str(), m_folder, name.c_str(),
                               AT_SYMLINK_FOLLOW) == 0;
        },
        m_name);
}

std::error_code TemporaryFile::replace(std::string_view name) {
    if (m_name.empty()) {
        if (const std::error_code error = giveName()) {
            return error;
        }
    }
    const std::string target(name);
    if (m_fs.renameAt(m_folder, m_name.c_str(), m_folder, target.c_str()) != 0) {
        return systemError(errno);
    }
    m_name.clear();
    return {};
}

std::error_code TemporaryFile::finishWriting() {
    Descriptor keeper(m_fs, m_fs.duplicate(m_file.get()));
    if (!keeper.valid()) {
        return systemError(errno);
    }
    const int error = m_file.close();
    m_file = std::move(keeper);
    return error != 0 ? systemError(error) : std::error_code();
}

bool isTemporaryName(std::string_view name, std::string_view target) {
    const std::size_t prefix = 1 + target.size() + kMark.size();
    if (name.size() != prefix + kRandomLength || name.front() != '.' ||
        name.substr(1, target.size()) != target ||
        name.substr(1 + target.size(), kMark.size()) != kMark) {
        return false;
    }
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix), name.end(),
                       [](char c) { return kLetters.find(c) != std::string_view::npos; });
}

std::size_t removeAbandonedTemporaries(FileSystem& fs, int folder, std::string_view target) {
    std::vector<std::string> names;
    std::size_t removed = 0;
    if (fs.listFolder(folder, names) != 0) {
        return removed;
    }
    for (const std::string& name : names) {
        if (!isTemporaryName(name, target)) {
            continue;
        }
        // Non-blocking, so a FIFO of that name cannot hang the copy, and
        // never through a link.
        const Descriptor file(
            fs, fs.openAt(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0));
        struct stat opened {};
        if (!file.valid() || fs.fstat(file.get(), &opened) != 0 || !S_ISREG(opened.st_mode) ||
            opened.st_nlink != 1) {
            continue;
        }
        // A running copy holds the lock of its file until after its rename.
        if (fs.flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
            continue;
        }
        // The name must still lead to the file that was examined and locked.
        struct stat named {};
        if (fs.fstatAt(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            sameFile(named, opened) && fs.unlinkAt(folder, name.c_str(), 0) == 0) {
            ++removed;
        }
    }
    return removed;
}

} // namespace velmora
