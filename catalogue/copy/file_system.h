#pragma once

#include <cstddef>
#include <string>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/types.h>
#include <vector>

namespace velmora {

// A descriptor that its owner (a Descriptor further up) keeps open for as
// long as the one that borrows it lives; the borrower never closes it.
using BorrowedFd = int;

// The system calls of an add's file steps, behind one seam. This base class
// makes the system's own calls; a test overrides the ones it wants to fail or
// watch (a full disk, a read error, a refused rename, a kill at a given call).
// Each returns what the POSIX call returns and leaves errno set on failure.
// Called from the thread that runs an add and from its copy workers, so an
// override must be safe to call from any thread.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    virtual int openAt(int folder, const char* path, int flags, mode_t mode);
    virtual int close(int fd);
    // A second descriptor of the same open file (F_DUPFD_CLOEXEC).
    virtual int duplicate(int fd);
    virtual int fstat(int fd, struct stat* st);
    virtual int fstatAt(int folder, const char* path, struct stat* st, int flags);
    virtual int fstatfs(int fd, struct statfs* st);
    virtual ssize_t read(int fd, void* buffer, std::size_t count);
    virtual ssize_t pread(int fd, void* buffer, std::size_t count, off_t offset);
    virtual ssize_t write(int fd, const void* buffer, std::size_t count);
    virtual ssize_t copyFileRange(int in, int out, std::size_t count);
    // lseek: also where the next data or hole begins (SEEK_DATA, SEEK_HOLE).
    virtual off_t seek(int fd, off_t offset, int whence);
    virtual int truncate(int fd, off_t size);
    virtual int fchmod(int fd, mode_t mode);
    virtual int futimens(int fd, const struct timespec times[2]);
    virtual int fsync(int fd);
    virtual int syncFileRange(int fd, off_t offset, off_t count, unsigned flags);
    virtual int linkAt(int fromFolder, const char* from, int toFolder, const char* to, int flags);
    virtual int renameAt(int fromFolder, const char* from, int toFolder, const char* to);
    virtual int unlinkAt(int folder, const char* path, int flags);
    virtual int mkdirAt(int folder, const char* path, mode_t mode);
    virtual int flock(int fd, int operation);
    // The names in an open folder ("." and ".." left out); the descriptor
    // stays open and is not moved. Returns -1 with errno set on failure.
    virtual int listFolder(int folder, std::vector<std::string>& names);
    // The system's own calls.
    static FileSystem& real();
};

} // namespace velmora
