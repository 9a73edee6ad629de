#include "catalogue/copy/replacing_copy.h"

#include "catalogue/copy/copy_error.h"
#include "catalogue/copy/data_mover.h"
#include "catalogue/copy/descriptor.h"
#include "catalogue/copy/temporary_file.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <string>

namespace velmora {
namespace {

constexpr mode_t kPermissionBits = S_IRWXU | S_IRWXG | S_IRWXO;
// Where the process's umask cannot be read: the usual one, which at least
// keeps others from writing.
constexpr mode_t kUsualUmask = S_IWGRP | S_IWOTH;

// The process's umask, read from /proc/self/status (Linux 4.7 and later):
// umask() can only read it by setting it, which would race with the other
// threads of the process that create files meanwhile.
mode_t currentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("Umask:")) {
            return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8)) &
                   kPermissionBits;
        }
    }
    return kUsualUmask;
}

// The mode a copy gets, as cp gives it: the source's permission bits less
// the umask, never set-user-ID, set-group-ID or sticky. A world-writable file
// from an NTFS or exFAT stick does not stay writable for every local user.
mode_t copiedMode(mode_t sourceMode) {
    return sourceMode & kPermissionBits & ~currentUmask();
}

bool sameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The source still is what it was when the copy began: same size, same
// modification and change times, and nothing after its end.
std::error_code checkSourceUnchanged(FileSystem& fs, int source, const struct stat& before) {
    struct stat after {};
    if (fs.fstat(source, &after) != 0) {
        return systemError(errno);
    }
    if (after.st_size != before.st_size || !sameTime(after.st_mtim, before.st_mtim) ||
        !sameTime(after.st_ctim, before.st_ctim)) {
        return CopyError::SourceChanged;
    }
    char beyond = 0;
    const ssize_t more = fs.pread(source, &beyond, 1, after.st_size);
    if (more < 0) {
        return systemError(errno);
    }
    return more == 0 ? std::error_code() : CopyError::SourceChanged;
}

} // namespace

std::error_code copyReplacing(FileSystem& fs, int source, const FileInFolder& target,
                              CopyTotals& progress, std::stop_token stop) {
    struct stat before {};
    if (fs.fstat(source, &before) != 0) {
        return systemError(errno);
    }
    // FIFOs and devices have no end that a copy could wait for.
    if (!S_ISREG(before.st_mode)) {
        return CopyError::SourceNotAFile;
    }

    const int folder = target.folder;
    const std::string& name = target.existing.empty() ? target.name : target.existing;
    struct stat previous {};
    const bool replacing = fs.fstatAt(folder, name.c_str(), &previous, AT_SYMLINK_NOFOLLOW) == 0;
    removeAbandonedTemporaries(fs, folder, target.name);
    TemporaryFile temporary(fs, folder, target.name);
    if (!temporary.valid()) {
        return temporary.error();
    }
    progress.start(before.st_size);

    DataMover mover(fs, source, temporary.fd(), before.st_size,
                    replacing ? Writeback::Bounded : Writeback::Unbounded, progress);
    if (const std::error_code error = mover.run(stop)) {
        return error;
    }
    if (const std::error_code error = checkSourceUnchanged(fs, source, before)) {
        return error;
    }
    if (fs.fchmod(temporary.fd(), copiedMode(before.st_mode)) != 0) {
        return systemError(errno);
    }
    // After the last write, which would set the modification time anew.
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    if (fs.futimens(temporary.fd(), times) != 0) {
        return systemError(errno);
    }
    // Without a flush the rename may reach the disk before the data, and a
    // power cut would leave an empty or partial file where the good one was.
    if (replacing && fs.fsync(temporary.fd()) != 0) {
        return systemError(errno);
    }
    if (const std::error_code error = temporary.finishWriting()) {
        return error;
    }
    progress.setDone(before.st_size);
    if (stop.stop_requested()) {
        return systemError(ECANCELED);
    }
    return temporary.replace(name);
}

} // namespace velmora
