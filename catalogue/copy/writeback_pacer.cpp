#include "catalogue/copy/writeback_pacer.h"

#include "catalogue/copy/copy_error.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>

namespace velmora {
namespace {

constexpr std::int64_t MiB = 1024 * 1024;
// The disk is asked to write one range of this size at a time; the copy
// waits once more than the window is not yet on the disk. Smaller ranges
// cost more allocation work per byte (8 MiB ranges were slower than cp+sync
// on a long-used disk; 32 MiB ones are faster).
constexpr std::int64_t kRange = 32 * MiB;
constexpr std::int64_t kWindow = 128 * MiB;

// sync_file_range is not offered by every file system (FUSE, some network
// ones).
bool unsupported(int error) {
    return error == ENOSYS || error == EINVAL || error == ESPIPE || error == EOPNOTSUPP;
}

} // namespace

WritebackPacer::WritebackPacer(FileSystem& fs, int target, CopyTotals& progress)
    : m_fs(fs), m_target(target), m_progress(progress),
      m_thread([this](std::stop_token stop) { flush(stop); }) {}

WritebackPacer::~WritebackPacer() {
    m_thread.request_stop();
    m_changed.notify_all();
}

std::error_code WritebackPacer::written(std::int64_t end, std::stop_token stop) {
    std::unique_lock lock(m_mutex);
    // The flushing thread has work only once a whole range is ready: waking
    // it for less costs two switches a step on a busy machine.
    const bool rangeCompleted = (end - m_started) / kRange != (m_written - m_started) / kRange;
    m_written = end;
    if (!m_supported) {
        m_progress.setDone(end);
    }
    if (rangeCompleted) {
        m_changed.notify_all();
    }
    m_changed.wait(lock, stop, [&] {
        return m_error != 0 || !m_supported || m_written - m_flushed <= kWindow;
    });
    if (m_error != 0) {
        return systemError(m_error);
    }
    return stop.stop_requested() ? systemError(ECANCELED) : std::error_code();
}

void WritebackPacer::flush(std::stop_token stop) {
    for (;;) {
        std::int64_t startFrom = 0;
        std::int64_t startTo = 0;
        {
            std::unique_lock lock(m_mutex);
            if (!m_changed.wait(lock, stop, [&] {
                    return m_written - m_started >= kRange || m_flushed < m_started;
                })) {
                return;
            }
            startFrom = m_started;
            startTo = m_started + (m_written - m_started) / kRange * kRange;
        }
        // Every whole range the copy has written goes to the disk at once,
        // so that the disk has the next ones queued while this thread waits
        // for the oldest, as it has when the kernel's flusher writes for cp.
        if (startTo > startFrom) {
            const int error = m_fs.syncFileRange(m_target, startFrom, startTo - startFrom,
                                                 SYNC_FILE_RANGE_WRITE) == 0
                                  ? 0
                                  : errno;
            const std::lock_guard lock(m_mutex);
            if (!accepted(error)) {
                return;
            }
            m_started = startTo;
        }
        std::int64_t waitFrom = 0;
        std::int64_t waitTo = 0;
        {
            const std::lock_guard lock(m_mutex);
            waitFrom = m_flushed;
            waitTo = std::min(m_flushed + kRange, m_started);
        }
        const int error = m_fs.syncFileRange(m_target, waitFrom, waitTo - waitFrom,
                                             SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                                 SYNC_FILE_RANGE_WAIT_AFTER) == 0
                              ? 0
                              : errno;
        const std::lock_guard lock(m_mutex);
        if (!accepted(error)) {
            return;
        }
        m_flushed = waitTo;
        m_progress.setDone(m_flushed);
        m_changed.notify_all();
    }
}

// With the lock held: notes a failed sync_file_range and wakes the copy.
bool WritebackPacer::accepted(int error) {
    if (error == 0) {
        return true;
    }
    if (unsupported(error)) {
        m_supported = false;
        m_progress.setDone(m_written);
    } else {
        m_error = error;
    }
    m_changed.notify_all();
    return false;
}

} // namespace velmora
