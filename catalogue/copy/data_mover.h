#pragma once

#include "catalogue/copy/copy_progress_state.h"
#include "catalogue/copy/file_system.h"
#include "catalogue/copy/writeback_pacer.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <system_error>

namespace velmora {

// Moves exactly `size` bytes from one open file to another, on the copy's
// worker: the kernel's copy first (a reflink where the file system can),
// read and write where the kernel refuses. A source that ends early fails
// the copy. With Writeback::Bounded, the data waiting for the disk is kept
// bounded as it goes (see WritebackPacer), so that the flush at the end is
// short and what counts as copied is what the disk has taken; otherwise it is
// what the page cache has taken, as with cp.
enum class Writeback { Unbounded, Bounded };

class DataMover {
public:
    DataMover(FileSystem& fs, int source, int target, std::int64_t size, Writeback writeback,
              CopyProgressState& progress);
    ~DataMover();
    DataMover(const DataMover&) = delete;
    DataMover& operator=(const DataMover&) = delete;

    // Returns the error that stopped it, ECANCELED when asked to stop.
    std::error_code run(std::stop_token stop);

private:
    ssize_t transfer(std::size_t count);
    ssize_t readAndWrite(std::size_t count);
    void adaptStep(std::size_t moved, std::chrono::steady_clock::duration took);

    FileSystem& m_fs;
    const BorrowedFd m_source;
    const BorrowedFd m_target;
    const std::int64_t m_size;
    CopyProgressState& m_progress;
    std::int64_t m_done = 0;
    std::size_t m_step;
    bool m_kernelCopy = true;
    int m_error = 0;
    std::unique_ptr<char[]> m_buffer;
    // Last: stopped before the rest goes.
    std::optional<WritebackPacer> m_pacer;
};

} // namespace velmora
