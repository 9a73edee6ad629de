#include "access/jet_lock_file.h"

#include "access/jet_write_error.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace velmora::jet {
namespace {

constexpr off_t kUserLocks = 0x10000000;
constexpr int kMaxUsers = 255;
constexpr off_t kWriteLocks = 0x20000000;
constexpr off_t kLockBytesPerPage = 256;
constexpr std::size_t kEntrySize = 64;
constexpr std::size_t kNameSize = 32;
constexpr auto kRetry = std::chrono::milliseconds(50);

struct flock range(short type, off_t start, off_t length) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = start;
    lock.l_len = length;
    return lock;
}

// An open file description lock, or where the file system has none (a CIFS
// mount answers EINVAL) the process's own POSIX lock: the server still sees
// it, though closing another descriptor of the file then drops it.
int lockCall(int fd, int ofdCommand, int processCommand, struct flock* lock) {
    if (::fcntl(fd, ofdCommand, lock) == 0) {
        return 0;
    }
    if (errno != EINVAL) {
        return -1;
    }
    lock->l_pid = 0;
    return ::fcntl(fd, processCommand, lock);
}

// Whether another open file (of any process) holds a lock over the range;
// where it does, `held` tells where.
bool heldByOther(int fd, off_t start, off_t length, struct flock* held = nullptr) {
    struct flock probe = range(F_WRLCK, start, length);
    if (lockCall(fd, F_OFD_GETLK, F_GETLK, &probe) != 0) {
        throwIo("cannot read the locks of the catalogue", errno);
    }
    if (held != nullptr) {
        *held = probe;
    }
    return probe.l_type != F_UNLCK;
}

bool take(int fd, off_t start, off_t length) {
    struct flock lock = range(F_WRLCK, start, length);
    if (lockCall(fd, F_OFD_SETLK, F_SETLK, &lock) == 0) {
        return true;
    }
    if (errno != EAGAIN && errno != EACCES) {
        throwIo("cannot lock the catalogue", errno);
    }
    return false;
}

void putEntry(int fd, int user, const std::string& computer, const std::string& account) {
    std::array<char, kEntrySize> entry{};
    std::copy_n(computer.begin(), std::min(computer.size(), kNameSize - 1), entry.begin());
    std::copy_n(account.begin(), std::min(account.size(), kNameSize - 1),
                entry.begin() + kNameSize);
    const auto at = static_cast<off_t>(static_cast<std::size_t>(user - 1) * kEntrySize);
    if (::pwrite(fd, entry.data(), entry.size(), at) != static_cast<ssize_t>(entry.size())) {
        throwIo("cannot write the lock file", errno == 0 ? EIO : errno);
    }
}

// The computer name in the entry of `user`, as printable text.
std::string computerOf(int fd, int user) {
    std::array<char, kNameSize> name{};
    const ssize_t got =
        ::pread(fd, name.data(), name.size(),
                static_cast<off_t>(static_cast<std::size_t>(user - 1) * kEntrySize));
    std::string out;
    for (ssize_t i = 0; i < got && name[static_cast<std::size_t>(i)] != '\0'; ++i) {
        const char c = name[static_cast<std::size_t>(i)];
        out += c >= 0x20 && c < 0x7F ? c : '?';
    }
    return out;
}

std::string thisComputer() {
    std::array<char, 256> name{};
    if (::gethostname(name.data(), name.size() - 1) != 0 || name[0] == '\0') {
        return "VELMORA2";
    }
    std::string out(name.data());
    out = out.substr(0, out.find('.')); // the machine, as Windows names it
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
    return out;
}

} // namespace

std::string lockFileName(std::string_view fileName) {
    std::string name(fileName);
    const auto dot = name.rfind('.');
    return (dot == std::string::npos ? name : name.substr(0, dot)) + ".ldb";
}

JetLockFile::JetLockFile(int folderFd, std::string_view fileName, int catalogueFd,
                         std::chrono::milliseconds wait)
    : m_folderFd(folderFd), m_name(lockFileName(fileName)), m_catalogueFd(catalogueFd) {
    struct stat catalogue {};
    if (::fstat(catalogueFd, &catalogue) != 0) {
        throwIo("cannot read " + std::string(fileName), errno);
    }
    // Never waits on the open: a FIFO of this name is refused by its type.
    const int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    m_fd = ::openat(folderFd, m_name.c_str(), flags | O_CREAT | O_EXCL, catalogue.st_mode & 0666);
    m_made = m_fd >= 0;
    if (m_fd < 0 && errno == EEXIST) {
        m_fd = ::openat(folderFd, m_name.c_str(), flags);
    }
    if (m_fd < 0) {
        throwIo("cannot open the lock file " + m_name, errno);
    }
    struct stat status {};
    if (::fstat(m_fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(m_fd);
        throw JetWriteError(JetWriteError::Kind::Damaged, kJetDamaged,
                            m_name + " beside " + std::string(fileName) +
                                " is not a file; move it away, then add again");
    }
    try {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        for (int other = otherUser(); other != 0; other = otherUser()) {
            if (std::chrono::steady_clock::now() >= deadline) {
                const std::string computer = computerOf(m_fd, other);
                throw JetWriteError(JetWriteError::Kind::InUse, kJetLockedByUser,
                                    std::string(fileName) + " is open in " +
                                        (computer.empty() ? "another program" : computer) +
                                        "; close it there and add again");
            }
            std::this_thread::sleep_for(kRetry);
        }
        for (int user = 1; user <= kMaxUsers && m_user == 0; ++user) {
            if (take(m_fd, kUserLocks + user, 1)) {
                if (take(m_catalogueFd, kUserLocks + user, 1)) {
                    m_user = user;
                } else {
                    struct flock undo = range(F_UNLCK, kUserLocks + user, 1);
                    lockCall(m_fd, F_OFD_SETLK, F_SETLK, &undo);
                }
            }
        }
        if (m_user == 0) {
            throw JetWriteError(JetWriteError::Kind::InUse, kJetLockedByUser,
                                std::string(fileName) + " is open by " + std::to_string(kMaxUsers) +
                                    " users; close it elsewhere and add again");
        }
        putEntry(m_fd, m_user, thisComputer(), "Admin");
    } catch (...) {
        if (m_made) {
            ::unlinkat(m_folderFd, m_name.c_str(), 0);
        }
        ::close(m_fd);
        throw;
    }
}

JetLockFile::~JetLockFile() {
    try {
        putEntry(m_fd, m_user, "", "");
        if (m_made && otherUser() == 0) {
            ::unlinkat(m_folderFd, m_name.c_str(), 0);
        }
    } catch (...) {
        // What is left is a leftover entry: it means nobody without its lock.
    }
    struct flock all = range(F_UNLCK, 0, 0);
    lockCall(m_catalogueFd, F_OFD_SETLK, F_SETLK, &all);
    ::close(m_fd); // releases the locks on the lock file
}

int JetLockFile::otherUser() const {
    for (const int fd : {m_fd, m_catalogueFd}) {
        struct flock held {};
        if (heldByOther(fd, kUserLocks + 1, kMaxUsers, &held)) {
            const auto user = static_cast<int>(std::max<off_t>(held.l_start - kUserLocks, 1));
            return std::min(user, kMaxUsers);
        }
    }
    return 0;
}

void JetLockFile::lockPagesForWrite(const std::vector<std::uint32_t>& pages) {
    for (const std::uint32_t page : pages) {
        const off_t start = kWriteLocks + static_cast<off_t>(page) * kLockBytesPerPage + 1;
        if (!take(m_catalogueFd, start, kLockBytesPerPage + m_user)) {
            throw JetWriteError(JetWriteError::Kind::InUse, kJetLockedByUser,
                                "page " + std::to_string(page) +
                                    " of the catalogue is being written by another program; "
                                    "add again when it is done");
        }
    }
}

} // namespace velmora::jet
