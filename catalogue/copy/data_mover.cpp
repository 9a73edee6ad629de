#include "catalogue/copy/data_mover.h"

#include "catalogue/copy/copy_error.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace velmora {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::size_t KiB = 1024;
constexpr std::size_t MiB = 1024 * KiB;

// Each system call aims to take about this long, so that a request to stop is
// seen soon whatever the device's speed; the step doubles while calls are
// quick and shrinks when they are slow. It never drops below 1 MiB: when the
// kernel throttles a writer to the disk's speed, small steps only add calls
// (a floor of 16 KiB cost four times cp's processor time on a 4 GiB copy).
constexpr Clock::duration kStepTarget = 20ms;
constexpr std::size_t kFirstStep = 1 * MiB;
constexpr std::size_t kMinStep = 1 * MiB;
constexpr std::size_t kMaxStep = 64 * MiB;
// The buffer of the read/write fallback, allocated only when it is needed.
constexpr std::size_t kBufferSize = 1 * MiB;

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

} // namespace

DataMover::DataMover(FileSystem& fs, int source, int target, std::int64_t size, Writeback writeback,
                     CopyProgressState& progress)
    : m_fs(fs), m_source(source), m_target(target), m_size(size), m_progress(progress),
      m_step(kFirstStep) {
    if (writeback == Writeback::Bounded) {
        m_pacer.emplace(fs, target, progress);
    }
}

DataMover::~DataMover() = default;

std::error_code DataMover::run(std::stop_token stop) {
    while (m_done < m_size) {
        if (stop.stop_requested()) {
            return systemError(ECANCELED);
        }
        const auto count =
            static_cast<std::size_t>(std::min<std::int64_t>(m_step, m_size - m_done));
        const Clock::time_point start = Clock::now();
        const ssize_t moved = transfer(count);
        if (moved < 0) {
            return systemError(m_error);
        }
        if (moved == 0) {
            // The source ends before the size it had when opened.
            return CopyError::SourceChanged;
        }
        m_done += moved;
        adaptStep(static_cast<std::size_t>(moved), Clock::now() - start);
        if (m_pacer) {
            if (const std::error_code error = m_pacer->written(m_done, stop)) {
                return error;
            }
        } else {
            m_progress.setDone(m_done);
        }
    }
    // The flush that follows writes what is left.
    m_pacer.reset();
    return {};
}

// Grows the step while calls are quick and shrinks it at once, in
// proportion, when a call takes longer than the target.
void DataMover::adaptStep(std::size_t moved, Clock::duration took) {
    if (took > kStepTarget) {
        const auto scaled = static_cast<double>(m_step) * static_cast<double>(kStepTarget.count()) /
                            static_cast<double>(took.count());
        m_step = std::max(kMinStep, static_cast<std::size_t>(scaled) / MiB * MiB);
    } else if (moved == m_step && took < kStepTarget / 2) {
        m_step = std::min(kMaxStep, m_step * 2);
    }
}

// One step of at most `count` bytes: the bytes moved, 0 at the source's end,
// or -1 with m_error set.
ssize_t DataMover::transfer(std::size_t count) {
    while (m_kernelCopy) {
        const ssize_t moved = m_fs.copyFileRange(m_source, m_target, count);
        if (moved > 0) {
            return moved;
        }
        if (moved == 0) {
            // Either the end, or a file system that cannot say (as in /proc);
            // one read tells them apart.
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

ssize_t DataMover::readAndWrite(std::size_t count) {
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
        const ssize_t put =
            m_fs.write(m_target, m_buffer.get() + written, static_cast<std::size_t>(got - written));
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

} // namespace velmora
