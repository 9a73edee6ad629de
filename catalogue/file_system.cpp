#include "catalogue/file_system.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace velmora {
namespace {

class PosixFileSystem final : public FileSystem {
public:
    int open(const char* path, int flags, mode_t mode) override {
        return ::open(path, flags | O_CLOEXEC, mode);
    }
    int close(int fd) override { return ::close(fd); }
    int fstat(int fd, struct stat* st) override { return ::fstat(fd, st); }
    ssize_t read(int fd, void* buffer, std::size_t count) override {
        return ::read(fd, buffer, count);
    }
    ssize_t write(int fd, const void* buffer, std::size_t count) override {
        return ::write(fd, buffer, count);
    }
    ssize_t copyFileRange(int in, int out, std::size_t count) override {
        return ::copy_file_range(in, nullptr, out, nullptr, count, 0);
    }
    int fchmod(int fd, mode_t mode) override { return ::fchmod(fd, mode); }
    int futimens(int fd, const struct timespec times[2]) override { return ::futimens(fd, times); }
    int fsync(int fd) override { return ::fsync(fd); }
    int rename(const char* from, const char* to) override { return std::rename(from, to); }
    int unlink(const char* path) override { return ::unlink(path); }
    int mkdir(const char* path, mode_t mode) override { return ::mkdir(path, mode); }
    int flock(int fd, int operation) override { return ::flock(fd, operation); }
    int stat(const char* path, struct stat* st) override { return ::stat(path, st); }
    std::chrono::steady_clock::time_point now() override {
        return std::chrono::steady_clock::now();
    }
};

} // namespace

FileSystem& FileSystem::real() {
    // Stateless, so one shared instance is enough.
    static PosixFileSystem instance;
    return instance;
}

} // namespace velmora
