#pragma once

#include "catalogue/file_system.h"

#include <cerrno>
#include <cstddef>
#include <set>
#include <string>

namespace velmora::testing {

// The real file system with one fault switched on: data that stops going to
// disk after N bytes, a source that cannot be read past N bytes, or a refused
// rename or mkdir. The data faults strike only files whose path holds
// `faultPath`; counts are of the bytes moved to or from those files.
class FaultyFileSystem : public FileSystem {
public:
    static constexpr long long kNever = -1;

    long long writeFailsAfter = kNever; // fails with writeError
    int writeError = ENOSPC;
    long long readFailsAfter = kNever; // fails with EIO
    std::string faultPath;
    int renameError = 0;
    int mkdirError = 0;

    int open(const char* path, int flags, mode_t mode) override {
        const int fd = real().open(path, flags, mode);
        if (fd >= 0 && std::string(path).find(faultPath) != std::string::npos) {
            m_faulty.insert(fd);
        }
        return fd;
    }
    int close(int fd) override {
        m_faulty.erase(fd);
        return real().close(fd);
    }
    int fstat(int fd, struct stat* st) override { return real().fstat(fd, st); }
    int stat(const char* path, struct stat* st) override { return real().stat(path, st); }
    int flock(int fd, int operation) override { return real().flock(fd, operation); }
    ssize_t read(int fd, void* buffer, std::size_t count) override {
        if (m_faulty.count(fd) == 0) {
            return real().read(fd, buffer, count);
        }
        if (readFailsAfter != kNever && m_read >= readFailsAfter) {
            errno = EIO;
            return -1;
        }
        const ssize_t done = real().read(fd, buffer, limit(count, readFailsAfter, m_read));
        m_read += done > 0 ? done : 0;
        return done;
    }
    ssize_t write(int fd, const void* buffer, std::size_t count) override {
        if (m_faulty.count(fd) == 0) {
            return real().write(fd, buffer, count);
        }
        if (writeFailsAfter != kNever && m_written >= writeFailsAfter) {
            errno = writeError;
            return -1;
        }
        const ssize_t done = real().write(fd, buffer, limit(count, writeFailsAfter, m_written));
        m_written += done > 0 ? done : 0;
        return done;
    }
    // Either fault makes the kernel copy fail the same way as the plain calls.
    ssize_t copyFileRange(int in, int out, std::size_t count) override {
        if (m_faulty.count(in) == 0 && m_faulty.count(out) == 0) {
            return real().copyFileRange(in, out, count);
        }
        if (readFailsAfter != kNever && m_read >= readFailsAfter) {
            errno = EIO;
            return -1;
        }
        if (writeFailsAfter != kNever && m_written >= writeFailsAfter) {
            errno = writeError;
            return -1;
        }
        count = limit(limit(count, readFailsAfter, m_read), writeFailsAfter, m_written);
        const ssize_t done = real().copyFileRange(in, out, count);
        m_read += done > 0 ? done : 0;
        m_written += done > 0 ? done : 0;
        return done;
    }
    int fchmod(int fd, mode_t mode) override { return real().fchmod(fd, mode); }
    int futimens(int fd, const struct timespec times[2]) override {
        return real().futimens(fd, times);
    }
    int fsync(int fd) override { return real().fsync(fd); }
    int rename(const char* from, const char* to) override {
        return renameError != 0 ? fail(renameError) : real().rename(from, to);
    }
    int unlink(const char* path) override { return real().unlink(path); }
    int mkdir(const char* path, mode_t mode) override {
        return mkdirError != 0 ? fail(mkdirError) : real().mkdir(path, mode);
    }
    std::chrono::steady_clock::time_point now() override { return real().now(); }

private:
    static int fail(int error) {
        errno = error;
        return -1;
    }
    static std::size_t limit(std::size_t count, long long failsAfter, long long done) {
        if (failsAfter == kNever) {
            return count;
        }
        const auto left = static_cast<std::size_t>(failsAfter - done);
        return count < left ? count : left;
    }

    std::set<int> m_faulty;
    long long m_read = 0;
    long long m_written = 0;
};

} // namespace velmora::testing
