// Fuzzes the Access reader: arbitrary bytes, held in a memfd, are opened as a
// Jet file and every row of every table is read. Each run must end in rows or
// a JetError; never a crash, a hang (-timeout) or memory beyond the file's
// size (-rss_limit_mb). Seeded with the fixture writer's Jet 3 and Jet 4 files.
#include "access/jet_reader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// A file descriptor of the run's own, closed when the run ends.
class MemoryFile {
public:
    explicit MemoryFile(const std::uint8_t* data, std::size_t size)
        : m_fd(memfd_create("jet", MFD_CLOEXEC)) {
        if (m_fd < 0) {
            std::abort();
        }
        for (std::size_t written = 0; written < size;) {
            const ssize_t step = write(m_fd, data + written, size - written);
            if (step <= 0) {
                std::abort();
            }
            written += static_cast<std::size_t>(step);
        }
    }
    ~MemoryFile() { close(m_fd); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    std::string path() const { return "/proc/self/fd/" + std::to_string(m_fd); }

private:
    int m_fd;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const MemoryFile file(data, size);
    try {
        velmora::jet::JetReader reader(file.path());
        if (reader.encrypted()) {
            return 0; // refused before anything is read
        }
        std::size_t bytes = 0;
        for (std::size_t i = 0; i < reader.tables().size(); ++i) {
            reader.readRows(i, [&](std::span<const velmora::jet::Value> row) {
                for (const velmora::jet::Value& value : row) {
                    bytes += value.bytes.size();
                }
            });
        }
    } catch (const velmora::jet::JetError&) {
        // A refusal: what a damaged file must get.
    }
    return 0;
}
