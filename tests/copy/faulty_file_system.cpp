#include "tests/copy/faulty_file_system.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>

namespace velmora::testing {

int FaultyFileSystem::open(const char* path, int flags, mode_t mode) {
    if (!failOpenPath.empty() && failOpenPath == path) {
        errno = openError;
        return -1;
    }
    const int fd = m_real.open(path, flags, mode);
    if (fd >= 0 && (flags & O_CREAT) != 0) {
        m_created = fd;
    }
    return fd;
}

int FaultyFileSystem::close(int fd) {
    const int result = m_real.close(fd);
    if (fd == m_created) {
        m_created = -1;
        if (closeCreatedError != 0) {
            errno = closeCreatedError;
            return -1;
        }
    }
    return result;
}

int FaultyFileSystem::fstat(int fd, struct stat* st) {
    return m_real.fstat(fd, st);
}

std::size_t FaultyFileSystem::allowance(const std::optional<Fault>& fault, std::int64_t passed,
                                        std::size_t count) {
    if (!fault) {
        return count;
    }
    const std::int64_t left = fault->afterBytes - passed;
    if (left <= 0) {
        errno = fault->error;
        return static_cast<std::size_t>(-1);
    }
    return std::min(count, static_cast<std::size_t>(left));
}

void FaultyFileSystem::advance(ssize_t bytes) {
    if (bytes > 0) {
        const bool slow = slowDownAfter >= 0 && m_read >= slowDownAfter;
        m_elapsed += (slow ? slowPerMiB : perMiB) * bytes / (1024 * 1024);
    }
}

ssize_t FaultyFileSystem::read(int fd, void* buffer, std::size_t count) {
    ++readCalls;
    count = allowance(readFault, m_read, count);
    if (count == static_cast<std::size_t>(-1)) {
        return -1;
    }
    const ssize_t got = m_real.read(fd, buffer, count);
    m_read += std::max<ssize_t>(got, 0);
    advance(got);
    return got;
}

ssize_t FaultyFileSystem::write(int fd, const void* buffer, std::size_t count) {
    count = allowance(writeFault, m_written, count);
    if (count == static_cast<std::size_t>(-1)) {
        return -1;
    }
    const ssize_t put = m_real.write(fd, buffer, count);
    m_written += std::max<ssize_t>(put, 0);
    return put;
}

ssize_t FaultyFileSystem::copyFileRange(int in, int out, std::size_t count) {
    ++kernelCopyCalls;
    if (refuseKernelCopy != 0) {
        errno = refuseKernelCopy;
        return -1;
    }
    count = allowance(readFault, m_read, count);
    if (count != static_cast<std::size_t>(-1)) {
        count = allowance(writeFault, m_written, count);
    }
    if (count == static_cast<std::size_t>(-1)) {
        return -1;
    }
    const ssize_t moved = m_real.copyFileRange(in, out, count);
    m_read += std::max<ssize_t>(moved, 0);
    m_written += std::max<ssize_t>(moved, 0);
    advance(moved);
    return moved;
}

int FaultyFileSystem::fchmod(int fd, mode_t mode) {
    return m_real.fchmod(fd, mode);
}

int FaultyFileSystem::futimens(int fd, const struct timespec times[2]) {
    return m_real.futimens(fd, times);
}

int FaultyFileSystem::fsync(int fd) {
    ++fsyncCalls;
    if (fsyncError != 0) {
        errno = fsyncError;
        return -1;
    }
    return m_real.fsync(fd);
}

int FaultyFileSystem::rename(const char* from, const char* to) {
    if (renameError != 0) {
        errno = renameError;
        return -1;
    }
    return m_real.rename(from, to);
}

int FaultyFileSystem::unlink(const char* path) {
    return m_real.unlink(path);
}
int FaultyFileSystem::mkdir(const char* path, mode_t mode) {
    return m_real.mkdir(path, mode);
}
int FaultyFileSystem::stat(const char* path, struct stat* st) {
    return m_real.stat(path, st);
}
int FaultyFileSystem::flock(int fd, int operation) {
    return m_real.flock(fd, operation);
}

std::chrono::steady_clock::time_point FaultyFileSystem::now() {
    return std::chrono::steady_clock::time_point{} + m_elapsed;
}

} // namespace velmora::testing
