#include "catalogue/copy/replacing_copy.h"

#include "catalogue/copy/copy_error.h"
#include "catalogue/copy/data_mover.h"
#include "catalogue/copy/descriptor.h"
#include "catalogue/copy/temporary_file.h"

#include <cerrno>
#include <fcntl.h>

namespace velmora {
namespace {

constexpr mode_t kPermissionBits = S_IRWXU | S_IRWXG | S_IRWXO;

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

std::error_code copyReplacing(FileSystem& fs, const std::string& source, int folder,
                              std::string_view name, CopyProgressState& progress,
                              std::stop_token stop) {
    // O_NONBLOCK keeps a FIFO from hanging the open; it is refused below.
    const Descriptor in(fs,
                        fs.openAt(AT_FDCWD, source.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK, 0));
    if (!in.valid()) {
        return systemError(errno);
    }
    struct stat before {};
    if (fs.fstat(in.get(), &before) != 0) {
        return systemError(errno);
    }
    if (S_ISDIR(before.st_mode)) {
        return systemError(EISDIR);
    }
    // FIFOs and devices have no end that a copy could wait for.
    if (!S_ISREG(before.st_mode)) {
        return CopyError::SourceNotAFile;
    }

    const std::string target(name);
    struct stat previous {};
    const bool replacing = fs.fstatAt(folder, target.c_str(), &previous, AT_SYMLINK_NOFOLLOW) == 0;
    removeAbandonedTemporaries(fs, folder, target);
    TemporaryFile temporary(fs, folder, target);
    if (!temporary.valid()) {
        return temporary.error();
    }
    progress.start(before.st_size, in.get(), temporary.fd());

    DataMover mover(fs, in.get(), temporary.fd(), before.st_size,
                    replacing ? Writeback::Bounded : Writeback::Unbounded, progress);
    if (const std::error_code error = mover.run(stop)) {
        return error;
    }
    if (const std::error_code error = checkSourceUnchanged(fs, in.get(), before)) {
        return error;
    }
    if (fs.fchmod(temporary.fd(), before.st_mode & kPermissionBits) != 0) {
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
    return temporary.replaceTarget();
}

} // namespace velmora
