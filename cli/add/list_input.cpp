#include "cli/add/list_input.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace velmora {
namespace {

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// An unnamed file in the temporary folder, gone when closed.
int unnamedTemporaryFile() {
    const char* folder = std::getenv("TMPDIR");
    if (folder == nullptr || *folder == '\0') {
        folder = "/tmp";
    }
    const int fd = ::open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR)) {
        return fd;
    }
    // A file system without unnamed files: a named one, unnamed at once.
    std::string name = std::string(folder) + "/velmora2-add-XXXXXX";
    const int named = mkostemp(name.data(), O_CLOEXEC);
    if (named >= 0) {
        unlink(name.c_str());
    }
    return named;
}

} // namespace

ListInput ListInput::open(const std::string& name) {
    if (name == "-") {
        return {fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0), "standard input"};
    }
    ListInput input(::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY), name);
    return input;
}

ListInput::ListInput(int fd, std::string shownName) : m_fd(fd), m_shownName(std::move(shownName)) {
    if (m_fd < 0) {
        fail("", errno);
        return;
    }
    if (fstat(m_fd, &m_checked) != 0) {
        fail("", errno);
        return;
    }
    if (S_ISREG(m_checked.st_mode)) {
        // Standard input may have been read in part before it was handed over.
        m_start = lseek(m_fd, 0, SEEK_CUR);
    }
    if (!S_ISREG(m_checked.st_mode) || m_start < 0) {
        m_start = 0;
        m_spool = unnamedTemporaryFile();
        if (m_spool < 0) {
            fail("cannot keep a copy in the temporary folder: ", errno);
        }
    }
}

ListInput::~ListInput() {
    for (const int fd : {m_fd, m_spool}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

ListInput::ListInput(ListInput&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_spool(std::exchange(other.m_spool, -1)),
      m_start(other.m_start), m_secondReading(other.m_secondReading),
      m_shownName(std::move(other.m_shownName)), m_error(std::move(other.m_error)),
      m_checked(other.m_checked) {}

std::size_t ListInput::read(char* buffer, std::size_t size) {
    if (!m_error.empty()) {
        return 0;
    }
    const int from = m_secondReading && m_spool >= 0 ? m_spool : m_fd;
    ssize_t got = -1;
    do {
        got = ::read(from, buffer, size);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        // A folder opens, and fails at the first read.
        fail("", errno);
        return 0;
    }
    if (!m_secondReading && m_spool >= 0) {
        for (ssize_t written = 0; written < got;) {
            const ssize_t now =
                ::write(m_spool, buffer + written, static_cast<std::size_t>(got - written));
            if (now < 0 && errno == EINTR) {
                continue;
            }
            if (now < 0) {
                fail("cannot keep a copy in the temporary folder: ", errno);
                return 0;
            }
            written += now;
        }
    }
    return static_cast<std::size_t>(got);
}

bool ListInput::rewind() {
    if (!m_error.empty()) {
        return false;
    }
    const int from = m_spool >= 0 ? m_spool : m_fd;
    if (lseek(from, m_spool >= 0 ? 0 : m_start, SEEK_SET) < 0) {
        return fail("", errno);
    }
    if (m_spool < 0) {
        struct stat now {};
        if (fstat(m_fd, &now) != 0) {
            return fail("", errno);
        }
        if (!sameFile(now, m_checked)) {
            m_error = "the list changed while it was checked";
            return false;
        }
    }
    m_secondReading = true;
    return true;
}

bool ListInput::fail(const std::string& what, int error) {
    m_error = what + std::generic_category().message(error);
    return false;
}

} // namespace velmora
