#pragma once

#include "catalogue/copy/file_system.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace velmora::testing {

// The system's own calls, with faults made to order, counts of what was
// called, and a hook before every call. The add's thread and its copy
// workers may call one instance at once.
class FaultyFileSystem : public FileSystem {
public:
    // Calls fail with `error` once `afterBytes` have gone through.
    struct Fault {
        int error = 0;
        std::int64_t afterBytes = 0;
    };

    // Reading: only sources whose path holds readFaultPath (all when empty).
    std::optional<Fault> readFault;
    std::string readFaultPath;
    // Writing: only the writeFaultFile-th file that a copy creates, counting
    // from 1 (all when 0).
    std::optional<Fault> writeFault;
    int writeFaultFile = 0;
    // copy_file_range fails with this at once.
    int refuseKernelCopy = 0;
    // SEEK_DATA and SEEK_HOLE show no holes, as on a file system that cannot
    // (the whole file is data).
    bool hideHoles = false;
    // Unnamed files (O_TMPFILE) fail with this, as on a file system without.
    int refuseUnnamedFiles = 0;
    int renameError = 0;
    int fsyncError = 0;
    int mkdirError = 0;
    // Closing a file that a copy created fails, after it is closed.
    int closeCreatedError = 0;
    // Opening a path holding failOpenPath fails with openError.
    std::string failOpenPath;
    int openError = 0;

    // Runs before every call, on the thread that makes it, with the call's
    // name ("openAt", "renameAt", ...) and the path it names ("" for none).
    std::function<void(std::string_view call, std::string_view path)> before;
    // Holds the first call named holdCall (after `before`) until release(),
    // or ten seconds, so that a broken test fails instead of hanging.
    std::string holdCall;
    void release();
    // Whether the call is being held now.
    bool holding();

    std::atomic<int> kernelCopyCalls{0};
    std::atomic<int> readCalls{0};
    std::atomic<int> fsyncCalls{0};
    std::atomic<int> unnamedFiles{0};
    std::atomic<int> namedFiles{0};

    int openAt(int folder, const char* path, int flags, mode_t mode) override;
    int close(int fd) override;
    int duplicate(int fd) override;
    int fstat(int fd, struct stat* st) override;
    int fstatAt(int folder, const char* path, struct stat* st, int flags) override;
    ssize_t read(int fd, void* buffer, std::size_t count) override;
    ssize_t pread(int fd, void* buffer, std::size_t count, off_t offset) override;
    ssize_t write(int fd, const void* buffer, std::size_t count) override;
    ssize_t copyFileRange(int in, int out, std::size_t count) override;
    off_t seek(int fd, off_t offset, int whence) override;
    int fchmod(int fd, mode_t mode) override;
    int futimens(int fd, const struct timespec times[2]) override;
    int fsync(int fd) override;
    int syncFileRange(int fd, off_t offset, off_t count, unsigned flags) override;
    int linkAt(int fromFolder, const char* from, int toFolder, const char* to, int flags) override;
    int renameAt(int fromFolder, const char* from, int toFolder, const char* to) override;
    int unlinkAt(int folder, const char* path, int flags) override;
    int mkdirAt(int folder, const char* path, mode_t mode) override;
    int flock(int fd, int operation) override;
    int listFolder(int folder, std::vector<std::string>& names) override;

private:
    void call(std::string_view name, std::string_view path = {});
    // How many of `count` bytes may pass; -1 (errno set) once the fault strikes.
    static ssize_t allowance(const std::optional<Fault>& fault, std::int64_t passed,
                             std::size_t count);

    std::mutex m_holdMutex;
    std::condition_variable m_holdChanged;
    bool m_held = false;
    bool m_holding = false;
    bool m_released = false;

    std::mutex m_mutex;
    std::set<int> m_faultyReads;
    std::set<int> m_faultyWrites;
    std::set<int> m_created;
    int m_filesCreated = 0;
    std::int64_t m_read = 0;
    std::int64_t m_written = 0;
};

} // namespace velmora::testing
