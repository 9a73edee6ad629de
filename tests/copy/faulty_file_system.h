#pragma once

#include "catalogue/file_system.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace velmora::testing {

// The real file system with faults made to order, and a clock that advances
// only with the bytes moved, so a test can play a device of any speed.
class FaultyFileSystem : public FileSystem {
public:
    // A call that fails with `error` once `afterBytes` have gone through.
    struct Fault {
        int error = 0;
        std::int64_t afterBytes = 0;
    };

    // copy_file_range fails with this at once (0: it works).
    int refuseKernelCopy = 0;
    // Bytes taken from the source (read or copy_file_range).
    std::optional<Fault> readFault;
    // Bytes put into the target (write or copy_file_range).
    std::optional<Fault> writeFault;
    int renameError = 0;
    int fsyncError = 0;
    // Closing the file that the copy created fails after closing it.
    int closeCreatedError = 0;
    // Opening this path fails with openError.
    std::string failOpenPath;
    int openError = 0;
    // The device's speed: the clock advances this much per MiB moved.
    std::chrono::nanoseconds perMiB{0};
    // ... and this much once `slowDownAfter` bytes have been read.
    std::int64_t slowDownAfter = -1;
    std::chrono::nanoseconds slowPerMiB{0};

    int kernelCopyCalls = 0;
    int readCalls = 0;
    int fsyncCalls = 0;

    int open(const char* path, int flags, mode_t mode) override;
    int close(int fd) override;
    int fstat(int fd, struct stat* st) override;
    ssize_t read(int fd, void* buffer, std::size_t count) override;
    ssize_t write(int fd, const void* buffer, std::size_t count) override;
    ssize_t copyFileRange(int in, int out, std::size_t count) override;
    int fchmod(int fd, mode_t mode) override;
    int futimens(int fd, const struct timespec times[2]) override;
    int fsync(int fd) override;
    int rename(const char* from, const char* to) override;
    int unlink(const char* path) override;
    int mkdir(const char* path, mode_t mode) override;
    int stat(const char* path, struct stat* st) override;
    int flock(int fd, int operation) override;
    std::chrono::steady_clock::time_point now() override;

private:
    // How many of `count` bytes may pass before a fault; -1 when it strikes.
    static std::size_t allowance(const std::optional<Fault>& fault, std::int64_t passed,
                                 std::size_t count);
    void advance(ssize_t bytes);

    FileSystem& m_real = FileSystem::real();
    std::int64_t m_read = 0;
    std::int64_t m_written = 0;
    int m_created = -1;
    std::chrono::steady_clock::duration m_elapsed{0};
};

} // namespace velmora::testing
