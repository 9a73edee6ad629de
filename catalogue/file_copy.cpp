#include "catalogue/file_copy.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <random>
#include <sys/file.h>
#include <system_error>
#include <utility>

namespace velmora {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::size_t KiB = 1024;
constexpr std::size_t MiB = 1024 * KiB;

// Progress is reported about this often: often enough for a live caption,
// rarely enough that the routine (which repaints the window) costs little.
constexpr Clock::duration kReportInterval = 25ms;
// Each system call aims to take about this long, so that a report is never
// more than one short call late, however slow or fast the device is.
constexpr Clock::duration kStepTarget = 8ms;
// The first call is small, since the device's speed is not known yet; the
// step then doubles while calls finish well inside the target. The cap keeps
// one call short even when the device slows down at once (write-back
// throttling once the page cache is full): 1 MiB at 10 MB/s is 100 ms. Larger
// steps gain nothing measurable.
constexpr std::size_t kFirstStep = 64 * KiB;
constexpr std::size_t kMinStep = 16 * KiB;
constexpr std::size_t kMaxStep = 1 * MiB;
// The buffer of the read/write fallback, allocated only when it is needed.
constexpr std::size_t kBufferSize = 1 * MiB;

constexpr mode_t kPermissionBits = S_IRWXU | S_IRWXG | S_IRWXO;
constexpr int kNameAttempts = 100;

// A file descriptor that is closed when it goes out of scope; errno survives.
class Descriptor {
public:
    Descriptor(FileSystem& fs, int fd) : m_fs(&fs), m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0) {
            const int saved = errno;
            m_fs->close(m_fd);
            errno = saved;
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const noexcept { return m_fd; }

    // Closes now and returns close's own error, which for a written file can
    // be the first sign of a failed write-back. The descriptor is gone either
    // way: close is never retried.
    int close() {
        const int fd = std::exchange(m_fd, -1);
        return m_fs->close(fd) == 0 ? 0 : errno;
    }

private:
    FileSystem* m_fs;
    int m_fd;
};

// The temporary file beside the target: removed when it goes out of scope,
// unless it has been renamed over the target.
class TemporaryFile {
public:
    TemporaryFile(FileSystem& fs, std::string path) : m_fs(&fs), m_path(std::move(path)) {}
    ~TemporaryFile() {
        if (!m_kept) {
            const int saved = errno;
            m_fs->unlink(m_path.c_str());
            errno = saved;
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::string& path() const noexcept { return m_path; }
    void keep() noexcept { m_kept = true; }

private:
    FileSystem* m_fs;
    std::string m_path;
    bool m_kept = false;
};

// ".<target name>.XXXXXX" in the target's folder, so that the final rename
// stays within one file system.
std::string temporaryName(const std::string& target, std::mt19937& random) {
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    const std::size_t slash = target.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    std::string name = target.substr(0, nameStart) + "." + target.substr(nameStart) + ".";
    for (int i = 0; i < 6; ++i) {
        name += kLetters[pick(random)];
    }
    return name;
}

// copy_file_range refuses file pairs it cannot handle (other file systems,
// special files, old kernels) with these; read and write can still copy them.
bool kernelCopyRefused(int error) {
    switch (error) {
    case EXDEV:
    case EINVAL:
    case ENOSYS:
    case EOPNOTSUPP:
#if ENOTSUP != EOPNOTSUPP
    case ENOTSUP:
#endif
    case EPERM:
    case EBADF:
    case ETXTBSY:
        return true;
    default:
        return false;
    }
}

// Moves the data of one open source into one open target, reporting progress.
class DataMover {
public:
    DataMover(FileSystem& fs, int source, int target, std::int64_t size, ProgressRoutine progress,
              void* data, const std::int32_t* cancel)
        : m_fs(fs), m_source(source), m_target(target), m_total(size), m_progress(progress),
          m_data(data), m_cancel(cancel) {}

    // Copies until the source's end, which may come before or after the size
    // it had when opened. Returns 0 or the error that stopped it.
    int run() {
        if (const int error = report(CALLBACK_STREAM_SWITCH); error != 0) {
            return error;
        }
        Clock::time_point lastReport = m_fs.now();
        for (;;) {
            if (cancelled()) {
                return ECANCELED;
            }
            const Clock::time_point start = m_fs.now();
            const ssize_t moved = transfer(m_step);
            if (moved < 0) {
                return m_error;
            }
            if (moved == 0) {
                break;
            }
            m_done += moved;
            m_total = std::max(m_total, m_done);
            const Clock::time_point end = m_fs.now();
            adaptStep(static_cast<std::size_t>(moved), end - start);
            if (end - lastReport >= kReportInterval) {
                if (const int error = report(CALLBACK_CHUNK_FINISHED); error != 0) {
                    return error;
                }
                // The routine's own time (repainting) is not copying time.
                lastReport = m_fs.now();
            }
        }
        // A source that shrank ends at what it held; the last report then
        // still says the whole file is done.
        m_total = m_done;
        if (m_reportedDone != m_done || m_reportedTotal != m_total) {
            return report(CALLBACK_CHUNK_FINISHED);
        }
        return 0;
    }

private:
    bool cancelled() const { return m_cancel != nullptr && *m_cancel != 0; }

    int report(std::uint32_t reason) {
        m_reportedDone = m_done;
        m_reportedTotal = m_total;
        if (m_progress != nullptr && m_progress(m_total, m_done, m_total, m_done, 1, reason,
                                                m_source, m_target, m_data) != PROGRESS_CONTINUE) {
            return ECANCELED;
        }
        return cancelled() ? ECANCELED : 0;
    }

    // Grows the step while calls are quick and shrinks it at once, in
    // proportion, when a call takes longer than the target.
    void adaptStep(std::size_t moved, Clock::duration took) {
        if (took > kStepTarget) {
            const auto scaled = static_cast<double>(m_step) * kStepTarget.count() /
                                static_cast<double>(took.count());
            m_step = std::max(kMinStep, static_cast<std::size_t>(scaled) / (4 * KiB) * (4 * KiB));
        } else if (moved == m_step && took < kStepTarget / 2) {
            m_step = std::min(kMaxStep, m_step * 2);
        }
    }

    // One step of at most `count` bytes: returns the bytes moved, 0 at the
    // source's end, or -1 with m_error set.
    ssize_t transfer(std::size_t count) {
        while (m_kernelCopy) {
            const ssize_t moved = m_fs.copyFileRange(m_source, m_target, count);
            if (moved > 0) {
                return moved;
            }
            if (moved == 0) {
                // Either the end, or a file whose size says nothing about its
                // data (as in /proc); one read tells them apart.
                m_kernelCopy = false;
            } else if (errno == EINTR) {
                continue;
            } else if (kernelCopyRefused(errno)) {
                m_kernelCopy = false;
            } else {
                m_error = errno;
                return -1;
            }
        }
        return readAndWrite(count);
    }

    ssize_t readAndWrite(std::size_t count) {
        if (!m_buffer) {
            m_buffer = std::make_unique<char[]>(kBufferSize);
        }
        ssize_t got = 0;
        do {
            got = m_fs.read(m_source, m_buffer.get(), std::min(count, kBufferSize));
        } while (got < 0 && errno == EINTR);
        if (got < 0) {
            m_error = errno;
            return -1;
        }
        for (ssize_t written = 0; written < got;) {
            const ssize_t put = m_fs.write(m_target, m_buffer.get() + written,
                                           static_cast<std::size_t>(got - written));
            if (put < 0 && errno == EINTR) {
                continue;
            }
            if (put <= 0) {
                m_error = put < 0 ? errno : EIO;
                return -1;
            }
            written += put;
        }
        return got;
    }

    FileSystem& m_fs;
    const int m_source;
    const int m_target;
    std::int64_t m_total;
    std::int64_t m_done = 0;
    std::int64_t m_reportedDone = -1;
    std::int64_t m_reportedTotal = -1;
    const ProgressRoutine m_progress;
    void* const m_data;
    const std::int32_t* const m_cancel;
    std::size_t m_step = kFirstStep;
    bool m_kernelCopy = true;
    int m_error = 0;
    std::unique_ptr<char[]> m_buffer;
};

// Removes the temporary files of `target` that a killed copy left behind. A
// copy holds an exclusive lock on its temporary file while it writes, so a
// file whose lock can be taken has no writer any more.
void removeAbandonedTemporaries(FileSystem& fs, const std::string& target) {
    namespace stdfs = std::filesystem;
    const stdfs::path targetPath(target);
    const std::string prefix = "." + targetPath.filename().string() + ".";
    const std::size_t nameLength = prefix.size() + 6;
    std::error_code error;
    const stdfs::path folder =
        targetPath.has_parent_path() ? targetPath.parent_path() : stdfs::path(".");
    for (stdfs::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (name.size() != nameLength || name.compare(0, prefix.size(), prefix) != 0) {
            continue;
        }
        const Descriptor stale(fs, fs.open(entry->path().c_str(), O_RDONLY | O_NOFOLLOW, 0));
        if (stale.get() >= 0 && fs.flock(stale.get(), LOCK_EX | LOCK_NB) == 0) {
            fs.unlink(entry->path().c_str());
        }
    }
}

// Creates the temporary file with a fresh name and locks it for the life of
// its descriptor; returns the descriptor or -1 with errno set.
int createTemporary(FileSystem& fs, const std::string& target, std::string& path) {
    std::mt19937 random(std::random_device{}());
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        path = temporaryName(target, random);
        const int fd = fs.open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, S_IRUSR | S_IWUSR);
        if (fd >= 0) {
            // A fresh file is locked by nobody else; a refusal would only
            // expose it to a cleaner, so it is not treated as a failure.
            fs.flock(fd, LOCK_EX | LOCK_NB);
            return fd;
        }
        if (errno != EEXIST) {
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

FileResult failure(int error) {
    return FileResult{error};
}

// A path with a NUL inside would reach the system cut short, naming another
// file than the one given.
bool holdsNul(const std::string& path) {
    return path.find('\0') != std::string::npos;
}

} // namespace

std::string FileResult::reason() const {
    return std::system_category().message(error);
}

FileResult CreateDirectoryA(const std::string& path, FileSystem& fs) {
    if (holdsNul(path)) {
        return failure(EINVAL);
    }
    if (fs.mkdir(path.c_str(), 0777) == 0) {
        return {};
    }
    const int error = errno;
    struct stat existing {};
    if (error == EEXIST && fs.stat(path.c_str(), &existing) == 0) {
        return S_ISDIR(existing.st_mode) ? FileResult{} : failure(ENOTDIR);
    }
    return failure(error);
}

FileResult CopyFileExA(const std::string& existing, const std::string& newFile,
                       ProgressRoutine progress, void* data, const std::int32_t* cancel,
                       std::uint32_t flags, FileSystem& fs) {
    // A copy is all or nothing, so there is never a partial copy to resume:
    // COPY_FILE_RESTARTABLE needs no work. Other flags are not supported and
    // are refused rather than silently ignored.
    if ((flags & ~COPY_FILE_RESTARTABLE) != 0 || holdsNul(existing) || holdsNul(newFile)) {
        return failure(EINVAL);
    }
    // O_NONBLOCK keeps a FIFO from hanging the open; it is refused below.
    Descriptor source(fs, fs.open(existing.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK, 0));
    if (source.get() < 0) {
        return failure(errno);
    }
    struct stat status {};
    if (fs.fstat(source.get(), &status) != 0) {
        return failure(errno);
    }
    if (S_ISDIR(status.st_mode)) {
        return failure(EISDIR);
    }
    if (!S_ISREG(status.st_mode)) {
        return failure(EINVAL);
    }

    // Whether there is a previous target to protect decides the flush below.
    struct stat previous {};
    const bool replacing = fs.stat(newFile.c_str(), &previous) == 0;

    removeAbandonedTemporaries(fs, newFile);
    std::string temporaryPath;
    Descriptor target(fs, createTemporary(fs, newFile, temporaryPath));
    if (target.get() < 0) {
        return failure(errno);
    }
    TemporaryFile temporary(fs, temporaryPath);

    DataMover mover(fs, source.get(), target.get(), status.st_size, progress, data, cancel);
    if (const int error = mover.run(); error != 0) {
        return failure(error);
    }

    if (fs.fchmod(target.get(), status.st_mode & kPermissionBits) != 0) {
        return failure(errno);
    }
    // After the last write, which would set the modification time anew.
    const struct timespec times[2] = {status.st_atim, status.st_mtim};
    if (fs.futimens(target.get(), times) != 0) {
        return failure(errno);
    }
    // Replacing a file is where a power loss could cost data: without a flush
    // the rename may reach the disk before the new data, leaving an empty or
    // partial file where the previous good one was. So a replacing copy is
    // flushed before the rename. A first copy has nothing to lose (its source
    // is still there), and it is not flushed, which keeps it as fast as cp.
    if (replacing && fs.fsync(target.get()) != 0) {
        return failure(errno);
    }
    if (const int error = target.close(); error != 0) {
        return failure(error);
    }
    if (fs.rename(temporary.path().c_str(), newFile.c_str()) != 0) {
        return failure(errno);
    }
    temporary.keep();
    return {};
}

} // namespace velmora
