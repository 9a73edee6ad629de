#include "tests/support/faulty_file_system.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <utility>

namespace velmora::testing {
namespace {

int fail(int error) {
    errno = error;
    return -1;
}

} // namespace

void FaultyFileSystem::call(std::string_view name, std::string_view path) {
    if (before) {
        before(name, path);
    }
    if (name != holdCall) {
        return;
    }
    std::unique_lock lock(m_holdMutex);
    if (std::exchange(m_held, true)) {
        return;
    }
    m_holding = true;
    m_holdChanged.wait_for(lock, std::chrono::seconds(10), [this] { return m_released; });
    m_holding = false;
}

void FaultyFileSystem::release() {
    const std::lock_guard lock(m_holdMutex);
    m_released = true;
    m_holdChanged.notify_all();
}

bool FaultyFileSystem::holding() {
    const std::lock_guard lock(m_holdMutex);
    return m_holding;
}

ssize_t FaultyFileSystem::allowance(const std::optional<Fault>& fault, std::int64_t passed,
                                    std::size_t count) {
    if (!fault) {
        return static_cast<ssize_t>(count);
    }
    const std::int64_t left = fault->afterBytes - passed;
    if (left <= 0) {
        return fail(fault->error);
    }
    return static_cast<ssize_t>(std::min<std::int64_t>(static_cast<std::int64_t>(count), left));
}

int FaultyFileSystem::openAt(int folder, const char* path, int flags, mode_t mode) {
    call("openAt", path);
    const bool unnamed = (flags & O_TMPFILE) == O_TMPFILE;
    if (!failOpenPath.empty() && std::string_view(path).find(failOpenPath) != std::string::npos) {
        return fail(openError);
    }
    if (unnamed && refuseUnnamedFiles != 0) {
        return fail(refuseUnnamedFiles);
    }
    const int fd = FileSystem::openAt(folder, path, flags, mode);
    if (fd < 0) {
        return fd;
    }
    const std::lock_guard lock(m_mutex);
    if (unnamed || (flags & O_CREAT) != 0) {
        ++(unnamed ? unnamedFiles : namedFiles);
        ++m_filesCreated;
        m_created.insert(fd);
        if (writeFaultFile == 0 || writeFaultFile == m_filesCreated) {
            m_faultyWrites.insert(fd);
        }
    } else if (readFaultPath.empty() ||
               std::string_view(path).find(readFaultPath) != std::string::npos) {
        m_faultyReads.insert(fd);
    }
    return fd;
}

int FaultyFileSystem::close(int fd) {
    call("close");
    bool created = false;
    {
        const std::lock_guard lock(m_mutex);
        m_faultyReads.erase(fd);
        m_faultyWrites.erase(fd);
        created = m_created.erase(fd) > 0;
    }
    const int result = FileSystem::close(fd);
    return created && closeCreatedError != 0 ? fail(closeCreatedError) : result;
}

int FaultyFileSystem::duplicate(int fd) {
    call("duplicate");
    return FileSystem::duplicate(fd);
}

int FaultyFileSystem::fstat(int fd, struct stat* st) {
    call("fstat");
    return FileSystem::fstat(fd, st);
}

int FaultyFileSystem::fstatAt(int folder, const char* path, struct stat* st, int flags) {
    call("fstatAt", path);
    return FileSystem::fstatAt(folder, path, st, flags);
}

ssize_t FaultyFileSystem::read(int fd, void* buffer, std::size_t count) {
    call("read");
    ++readCalls;
    std::unique_lock lock(m_mutex);
    if (m_faultyReads.count(fd) == 0) {
        lock.unlock();
        return FileSystem::read(fd, buffer, count);
    }
    const ssize_t allowed = allowance(readFault, m_read, count);
    if (allowed < 0) {
        return allowed;
    }
    const ssize_t got = FileSystem::read(fd, buffer, static_cast<std::size_t>(allowed));
    m_read += std::max<ssize_t>(got, 0);
    return got;
}

ssize_t FaultyFileSystem::pread(int fd, void* buffer, std::size_t count, off_t offset) {
    call("pread");
    return FileSystem::pread(fd, buffer, count, offset);
}

ssize_t FaultyFileSystem::write(int fd, const void* buffer, std::size_t count) {
    call("write");
    std::unique_lock lock(m_mutex);
    if (m_faultyWrites.count(fd) == 0) {
        lock.unlock();
        return FileSystem::write(fd, buffer, count);
    }
    const ssize_t allowed = allowance(writeFault, m_written, count);
    if (allowed < 0) {
        return allowed;
    }
    const ssize_t put = FileSystem::write(fd, buffer, static_cast<std::size_t>(allowed));
    m_written += std::max<ssize_t>(put, 0);
    return put;
}

ssize_t FaultyFileSystem::copyFileRange(int in, int out, std::size_t count) {
    call("copyFileRange");
    ++kernelCopyCalls;
    if (refuseKernelCopy != 0) {
        return fail(refuseKernelCopy);
    }
    const std::lock_guard lock(m_mutex);
    const bool faultyIn = m_faultyReads.count(in) > 0;
    const bool faultyOut = m_faultyWrites.count(out) > 0;
    ssize_t allowed = static_cast<ssize_t>(count);
    if (faultyIn) {
        allowed = allowance(readFault, m_read, count);
    }
    if (allowed >= 0 && faultyOut) {
        allowed = allowance(writeFault, m_written, static_cast<std::size_t>(allowed));
    }
    if (allowed < 0) {
        return allowed;
    }
    const ssize_t moved = FileSystem::copyFileRange(in, out, static_cast<std::size_t>(allowed));
    m_read += faultyIn ? std::max<ssize_t>(moved, 0) : 0;
    m_written += faultyOut ? std::max<ssize_t>(moved, 0) : 0;
    return moved;
}

off_t FaultyFileSystem::seek(int fd, off_t offset, int whence) {
    call("seek");
    struct stat st {};
    if (!hideHoles || (whence != SEEK_DATA && whence != SEEK_HOLE) || ::fstat(fd, &st) != 0) {
        return FileSystem::seek(fd, offset, whence);
    }
    if (offset >= st.st_size) {
        return fail(ENXIO);
    }
    return FileSystem::seek(fd, whence == SEEK_DATA ? offset : st.st_size, SEEK_SET);
}

int FaultyFileSystem::fchmod(int fd, mode_t mode) {
    call("fchmod");
    return FileSystem::fchmod(fd, mode);
}

int FaultyFileSystem::futimens(int fd, const struct timespec times[2]) {
    call("futimens");
    return FileSystem::futimens(fd, times);
}

int FaultyFileSystem::fsync(int fd) {
    call("fsync");
    ++fsyncCalls;
    return fsyncError != 0 ? fail(fsyncError) : FileSystem::fsync(fd);
}

int FaultyFileSystem::syncFileRange(int fd, off_t offset, off_t count, unsigned flags) {
    call("syncFileRange");
    return FileSystem::syncFileRange(fd, offset, count, flags);
}

int FaultyFileSystem::linkAt(int fromFolder, const char* from, int toFolder, const char* to,
                             int flags) {
    call("linkAt", to);
    return FileSystem::linkAt(fromFolder, from, toFolder, to, flags);
}

int FaultyFileSystem::renameAt(int fromFolder, const char* from, int toFolder, const char* to) {
    call("renameAt", to);
    return renameError != 0 ? fail(renameError)
                            : FileSystem::renameAt(fromFolder, from, toFolder, to);
}

int FaultyFileSystem::unlinkAt(int folder, const char* path, int flags) {
    call("unlinkAt", path);
    return FileSystem::unlinkAt(folder, path, flags);
}

int FaultyFileSystem::mkdirAt(int folder, const char* path, mode_t mode) {
    call("mkdirAt", path);
    return mkdirError != 0 ? fail(mkdirError) : FileSystem::mkdirAt(folder, path, mode);
}

int FaultyFileSystem::flock(int fd, int operation) {
    call("flock");
    return FileSystem::flock(fd, operation);
}

int FaultyFileSystem::listFolder(int folder, std::vector<std::string>& names) {
    call("listFolder");
    return FileSystem::listFolder(folder, names);
}

} // namespace velmora::testing
