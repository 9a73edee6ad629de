#include "catalogue/copy/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <unistd.h>

namespace velmora {
namespace {

struct FolderStreamCloser {
    void operator()(DIR* stream) const noexcept { ::closedir(stream); }
};

} // namespace

int FileSystem::openAt(int folder, const char* path, int flags, mode_t mode) {
    return ::openat(folder, path, flags | O_CLOEXEC, mode);
}
int FileSystem::close(int fd) {
    return ::close(fd);
}
int FileSystem::duplicate(int fd) {
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}
int FileSystem::fstat(int fd, struct stat* st) {
    return ::fstat(fd, st);
}
int FileSystem::fstatfs(int fd, struct statfs* st) {
    return ::fstatfs(fd, st);
}

int FileSystem::fstatAt(int folder, const char* path, struct stat* st, int flags) {
    return ::fstatat(folder, path, st, flags);
}
ssize_t FileSystem::read(int fd, void* buffer, std::size_t count) {
    return ::read(fd, buffer, count);
}
ssize_t FileSystem::pread(int fd, void* buffer, std::size_t count, off_t offset) {
    return ::pread(fd, buffer, count, offset);
}
ssize_t FileSystem::write(int fd, const void* buffer, std::size_t count) {
    return ::write(fd, buffer, count);
}
ssize_t FileSystem::copyFileRange(int in, int out, std::size_t count) {
    return ::copy_file_range(in, nullptr, out, nullptr, count, 0);
}
off_t FileSystem::seek(int fd, off_t offset, int whence) {
    return ::lseek(fd, offset, whence);
}
int FileSystem::truncate(int fd, off_t size) {
    return ::ftruncate(fd, size);
}
int FileSystem::fchmod(int fd, mode_t mode) {
    return ::fchmod(fd, mode);
}
int FileSystem::futimens(int fd, const struct timespec times[2]) {
    return ::futimens(fd, times);
}
int FileSystem::fsync(int fd) {
    return ::fsync(fd);
}
int FileSystem::syncFileRange(int fd, off_t offset, off_t count, unsigned flags) {
    return ::sync_file_range(fd, offset, count, flags);
}
int FileSystem::linkAt(int fromFolder, const char* from, int toFolder, const char* to, int flags) {
    return ::linkat(fromFolder, from, toFolder, to, flags);
}
int FileSystem::renameAt(int fromFolder, const char* from, int toFolder, const char* to) {
    return ::renameat(fromFolder, from, toFolder, to);
}
int FileSystem::unlinkAt(int folder, const char* path, int flags) {
    return ::unlinkat(folder, path, flags);
}
int FileSystem::mkdirAt(int folder, const char* path, mode_t mode) {
    return ::mkdirat(folder, path, mode);
}
int FileSystem::flock(int fd, int operation) {
    return ::flock(fd, operation);
}

int FileSystem::listFolder(int folder, std::vector<std::string>& names) {
    // Reopening "." gives the stream a descriptor of its own, so closing the
    // stream leaves the caller's descriptor and its offset alone.
    const int own = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (own < 0) {
        return -1;
    }
    const std::unique_ptr<DIR, FolderStreamCloser> stream(::fdopendir(own));
    if (!stream) {
        ::close(own);
        return -1;
    }
    names.clear();
    errno = 0;
    while (const dirent* entry = ::readdir(stream.get())) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") {
            names.emplace_back(name);
        }
        errno = 0;
    }
    return errno == 0 ? 0 : -1;
}

FileSystem& FileSystem::real() {
    // Stateless, so one shared instance serves every thread.
    static FileSystem instance;
    return instance;
}

} // namespace velmora
