#include "access/jet_page_file.h"

#include "access/jet_write_error.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora::jet {

PageFile::PageFile(int fd, const JetFormat& format, std::string_view name)
    : m_fd(fd), m_format(format), m_name(name) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        throwIo("cannot read the size of " + m_name, errno);
    }
    const auto size = static_cast<std::uint64_t>(status.st_size);
    const std::size_t pageSize = m_format.pageSize;
    if (pageSize > kJetPageSize || size % pageSize != 0 || size / pageSize < 3 ||
        size / pageSize > 0xFFFFFF) {
        throwDamaged(m_name, "it is not a whole number of pages");
    }
    m_originalCount = static_cast<std::uint32_t>(size / pageSize);
    m_count = m_originalCount;
}

Page& PageFile::load(std::uint32_t number, const std::string& what) {
    if (number >= m_count) {
        throwDamaged(m_name, what + " points to page " + std::to_string(number) +
                                 ", past the end of the file");
    }
    auto found = m_pages.find(number);
    if (found != m_pages.end()) {
        return *found->second;
    }
    auto page = std::make_unique<Page>();
    const std::size_t pageSize = m_format.pageSize;
    std::size_t done = 0;
    while (done < pageSize) {
        const ssize_t got = ::pread(m_fd, page->data() + done, pageSize - done,
                                    static_cast<off_t>(std::uint64_t{number} * pageSize + done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throwIo("cannot read page " + std::to_string(number) + " of " + m_name, errno);
        }
        if (got == 0) {
            throwDamaged(m_name, "it became shorter while it was read");
        }
        done += static_cast<std::size_t>(got);
    }
    return *m_pages.emplace(number, std::move(page)).first->second;
}

const Page& PageFile::page(std::uint32_t number, const std::string& what) {
    return load(number, what);
}

Page& PageFile::change(std::uint32_t number, const std::string& what, WriteStage stage) {
    Page& current = load(number, what);
    const auto [at, first] = m_changed.emplace(number, stage);
    if (first && number < m_originalCount) {
        m_originals.emplace(number, std::make_unique<Page>(current));
    }
    at->second = std::max(at->second, stage);
    return current;
}

std::uint32_t PageFile::append() {
    const std::uint32_t number = m_count++;
    m_pages.emplace(number, std::make_unique<Page>());
    m_changed.emplace(number, WriteStage::Rows);
    return number;
}

std::vector<std::pair<std::uint32_t, const Page*>> PageFile::originals() const {
    std::vector<std::pair<std::uint32_t, const Page*>> out;
    for (const auto& [number, page] : m_originals) {
        out.emplace_back(number, page.get());
    }
    return out;
}

std::vector<std::pair<std::uint32_t, const Page*>> PageFile::written() const {
    std::vector<std::pair<std::uint32_t, const Page*>> out;
    for (const auto& [number, stage] : m_changed) {
        out.emplace_back(number, m_pages.at(number).get());
    }
    return out;
}

void PageFile::writePage(std::uint32_t number) {
    const Page& page = *m_pages.at(number);
    const std::size_t pageSize = m_format.pageSize;
    std::size_t done = 0;
    while (done < pageSize) {
        const ssize_t put = ::pwrite(m_fd, page.data() + done, pageSize - done,
                                     static_cast<off_t>(std::uint64_t{number} * pageSize + done));
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            throwIo("cannot write page " + std::to_string(number) + " of " + m_name,
                    put < 0 ? errno : EIO);
        }
        done += static_cast<std::size_t>(put);
    }
}

void PageFile::flush() {
    if (::fsync(m_fd) != 0) {
        throwIo("cannot flush " + m_name, errno);
    }
}

void PageFile::write() {
    // Appended pages first (nothing the file held points to them yet), then
    // the changed ones stage by stage; each batch is on the disk before the
    // next begins.
    std::array<std::vector<std::uint32_t>, 5> batches;
    for (const auto& [number, stage] : m_changed) {
        batches.at(number >= m_originalCount ? 0 : 1 + static_cast<std::size_t>(stage))
            .push_back(number);
    }
    bool first = true;
    for (const std::vector<std::uint32_t>& batch : batches) {
        if (batch.empty()) {
            continue;
        }
        if (!first) {
            flush();
        }
        first = false;
        for (const std::uint32_t number : batch) {
            writePage(number);
        }
    }
    flush();
}

} // namespace velmora::jet
