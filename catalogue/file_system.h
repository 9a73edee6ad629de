#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <sys/stat.h>
#include <sys/types.h>

namespace velmora {

// The system calls that the copy layer makes, behind one seam so that tests can
// make any of them fail (a full disk, a read error, a refused rename) without
// relying on file permissions. Each returns what the POSIX call returns and
// leaves errno set on failure.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    virtual int open(const char* path, int flags, mode_t mode) = 0;
    virtual int close(int fd) = 0;
    virtual int fstat(int fd, struct stat* st) = 0;
    virtual ssize_t read(int fd, void* buffer, std::size_t count) = 0;
    virtual ssize_t write(int fd, const void* buffer, std::size_t count) = 0;
    virtual ssize_t copyFileRange(int in, int out, std::size_t count) = 0;
    virtual int fchmod(int fd, mode_t mode) = 0;
    virtual int futimens(int fd, const struct timespec times[2]) = 0;
    virtual int fsync(int fd) = 0;
    virtual int rename(const char* from, const char* to) = 0;
    virtual int unlink(const char* path) = 0;
    virtual int mkdir(const char* path, mode_t mode) = 0;
    virtual int stat(const char* path, struct stat* st) = 0;
    virtual int flock(int fd, int operation) = 0;
    // The monotonic clock that paces progress reports; a test double can make
    // a slow device without sleeping.
    virtual std::chrono::steady_clock::time_point now() = 0;

    // The system's own calls.
    static FileSystem& real();
};

} // namespace velmora
