#pragma once

#include "catalogue/copy/file_system.h"

#include <cerrno>
#include <utility>

namespace velmora {

// An open file descriptor, closed through its file system when it goes out of
// scope; errno survives the close, so a failure can still be read after it.
class Descriptor {
public:
    Descriptor() = default;
    Descriptor(FileSystem& fs, int fd) : m_fs(&fs), m_fd(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(Descriptor&& other) noexcept
        : m_fs(other.m_fs), m_fd(std::exchange(other.m_fd, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            reset();
            m_fs = other.m_fs;
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const noexcept { return m_fd; }
    bool valid() const noexcept { return m_fd >= 0; }

    // Closes now and returns close's own error (0 when it succeeded), which
    // for a written file can be the first sign of a failed write-back. The
    // descriptor is gone either way: close is never retried.
    int close() {
        const int fd = std::exchange(m_fd, -1);
        if (fd < 0) {
            return 0;
        }
        return m_fs->close(fd) == 0 ? 0 : errno;
    }

private:
    void reset() noexcept {
        if (m_fd >= 0) {
            const int saved = errno;
            m_fs->close(std::exchange(m_fd, -1));
            errno = saved;
        }
    }

    FileSystem* m_fs = nullptr;
    int m_fd = -1;
};

} // namespace velmora
