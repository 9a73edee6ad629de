#include "catalogue/copy/writeback_pacer.h"

#include "catalogue/copy/copy_error.h"

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
    m_written = end;
    if (!m_supported) {
        m_progress.setDone(end);
    }
    m_changed.notify_all();
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
        std::int64_t from = 0;
        {
            std::unique_lock lock(m_mutex);
            if (!m_changed.wait(lock, stop, [&] { return m_written - m_flushed >= kRange; })) {
                return;
            }
            from = m_flushed;
        }
        const int result = m_fs.syncFileRange(m_target, from, kRange,
                                              SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                                  SYNC_FILE_RANGE_WAIT_AFTER) == 0
                               ? 0
                               : errno;
        const std::lock_guard lock(m_mutex);
        if (result != 0) {
            if (unsupported(result)) {
                m_supported = false;
                m_progress.setDone(m_written);
            } else {
                m_error = result;
            }
            m_changed.notify_all();
            return;
        }
        m_flushed = from + kRange;
        m_progress.setDone(m_flushed);
        m_changed.notify_all();
    }
}

} // namespace velmora
