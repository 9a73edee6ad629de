#include "access/jet_page_file.h"

#include "access/jet_write_error.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora::jet {
namespace {

[[noreturn]] void throwIo(const std::string& what) {
    const int error = errno;
    throw JetWriteError(JetWriteError::Kind::Io, error, what + ": " + std::strerror(error));
}

} // namespace

PageFile::PageFile(int fd) : m_fd(fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        throwIo("cannot read the catalogue's size");
    }
    const auto size = static_cast<std::uint64_t>(status.st_size);
    if (size % kJetPageSize != 0 || size / kJetPageSize < 3 || size / kJetPageSize > 0xFFFFFF) {
        throw JetWriteError(JetWriteError::Kind::Damaged, kJetDamaged,
                            "Velmora2.db is not a whole number of Jet 4 pages");
    }
    m_originalCount = static_cast<std::uint32_t>(size / kJetPageSize);
    m_count = m_originalCount;
}

Page& PageFile::load(std::uint32_t number, const char* what) {
    if (number >= m_count) {
        throw JetWriteError(JetWriteError::Kind::Damaged, kJetDamaged,
                            std::string("Velmora2.db is damaged: ") + what + " points to page " +
                                std::to_string(number) + ", past the end of the file");
    }
    auto found = m_pages.find(number);
    if (found != m_pages.end()) {
        return *found->second;
    }
    auto page = std::make_unique<Page>();
    std::size_t done = 0;
    while (done < kJetPageSize) {
        const ssize_t got =
            ::pread(m_fd, page->data() + done, kJetPageSize - done,
                    static_cast<off_t>(std::uint64_t{number} * kJetPageSize + done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throwIo("cannot read page " + std::to_string(number) + " of Velmora2.db");
        }
        if (got == 0) {
            throw JetWriteError(JetWriteError::Kind::Damaged, kJetDamaged,
                                "Velmora2.db became shorter while it was read");
        }
        done += static_cast<std::size_t>(got);
    }
    return *m_pages.emplace(number, std::move(page)).first->second;
}

const Page& PageFile::page(std::uint32_t number, const char* what) {
    return load(number, what);
}

Page& PageFile::change(std::uint32_t number, const char* what) {
    Page& current = load(number, what);
    if (std::find(m_changed.begin(), m_changed.end(), number) == m_changed.end()) {
        m_changed.push_back(number);
        if (number < m_originalCount) {
            m_originals.emplace(number, std::make_unique<Page>(current));
        }
    }
    return current;
}

std::uint32_t PageFile::append() {
    const std::uint32_t number = m_count++;
    m_pages.emplace(number, std::make_unique<Page>());
    m_changed.push_back(number);
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
    for (const std::uint32_t number : m_changed) {
        out.emplace_back(number, m_pages.at(number).get());
    }
    return out;
}

void PageFile::write() {
    std::vector<std::uint32_t> order = m_changed;
    std::sort(order.begin(), order.end());
    for (const std::uint32_t number : order) {
        const Page& page = *m_pages.at(number);
        std::size_t done = 0;
        while (done < kJetPageSize) {
            const ssize_t put =
                ::pwrite(m_fd, page.data() + done, kJetPageSize - done,
                         static_cast<off_t>(std::uint64_t{number} * kJetPageSize + done));
            if (put < 0 && errno == EINTR) {
                continue;
            }
            if (put <= 0) {
                throwIo("cannot write page " + std::to_string(number) + " of Velmora2.db");
            }
            done += static_cast<std::size_t>(put);
        }
    }
    if (::fsync(m_fd) != 0) {
        throwIo("cannot flush Velmora2.db");
    }
}

} // namespace velmora::jet
