#pragma once

#include "catalogue/copy/copy_progress_state.h"
#include "catalogue/copy/file_system.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stop_token>
#include <system_error>
#include <thread>

namespace velmora {

// Keeps the data of a replacing copy that still waits for the disk bounded
// (at most 128 MiB, where a plain copy leaves gigabytes to the final flush).
// A thread of its own asks the disk to write each completed range and waits
// for it, beside the copy, as the kernel's flusher does for cp (on ext4 that
// is also where the file's blocks are found, which can cost more than the
// copy on a long-used disk); the copy waits only when it is more than the
// window ahead. What the disk has taken is what the copy's progress reports.
// On a file system without sync_file_range the flush at the end does all the
// work and the progress follows the data copied.
class WritebackPacer {
public:
    WritebackPacer(FileSystem& fs, int target, CopyProgressState& progress);
    // Stops the thread; ranges not yet written are left to the final flush.
    ~WritebackPacer();
    WritebackPacer(const WritebackPacer&) = delete;
    WritebackPacer& operator=(const WritebackPacer&) = delete;

    // The copy has written [0, end). Waits while too much awaits the disk;
    // returns a write-back failure, or ECANCELED when `stop` is asked for.
    std::error_code written(std::int64_t end, std::stop_token stop);

private:
    void flush(std::stop_token stop);

    FileSystem& m_fs;
    const BorrowedFd m_target;
    CopyProgressState& m_progress;
    std::mutex m_mutex;
    std::condition_variable_any m_changed;
    std::int64_t m_written = 0; // by the copy
    std::int64_t m_flushed = 0; // by the disk
    bool m_supported = true;
    int m_error = 0;
    // Last, so that it starts after, and is joined before, the rest.
    std::jthread m_thread;
};

} // namespace velmora
