#pragma once

#include "access/jet_bytes.h"

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace velmora::jet {

inline constexpr std::size_t kJetPageSize = 4096; // Jet 4

using Page = std::array<unsigned char, kJetPageSize>;

// The pages of a Jet 4 file open as `fd` (not owned), read on demand and kept,
// with the changes of one add held in memory until write(): nothing reaches
// the file before the journal holds the originals of the pages that change.
class PageFile {
public:
    explicit PageFile(int fd);

    // Pages in the file before this add, and with the pages appended since.
    std::uint32_t originalPageCount() const { return m_originalCount; }
    std::uint32_t pageCount() const { return m_count; }
    std::uint64_t originalSize() const { return std::uint64_t{m_originalCount} * kJetPageSize; }

    // The page as the add sees it. A number past the end is a damaged
    // pointer: JetWriteError (Damaged) naming `what` pointed there.
    const Page& page(std::uint32_t number, const char* what);
    // The page, to be changed by this add.
    Page& change(std::uint32_t number, const char* what);
    // A new zeroed page at the end of the file.
    std::uint32_t append();

    // The pages that existed and change, with their original bytes.
    std::vector<std::pair<std::uint32_t, const Page*>> originals() const;
    // Every page this add writes (changed or appended), with its new bytes.
    std::vector<std::pair<std::uint32_t, const Page*>> written() const;
    // Writes every changed and appended page, then flushes the file.
    void write();

private:
    Page& load(std::uint32_t number, const char* what);

    int m_fd;
    std::uint32_t m_originalCount = 0;
    std::uint32_t m_count = 0;
    std::map<std::uint32_t, std::unique_ptr<Page>> m_pages;
    std::map<std::uint32_t, std::unique_ptr<Page>> m_originals;
    std::vector<std::uint32_t> m_changed;
};

} // namespace velmora::jet
