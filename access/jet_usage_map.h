#pragma once

#include "access/jet_page_file.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace velmora::jet {

// A page usage map: a row (on page 1, or another page of map rows) that is
// either a bitmap over a range of pages (type 0: its first page, then the
// bits) or a list of 0x05 pages that each hold the bits of 32,736 pages
// (type 1). Tables keep one of the pages they own and one of those with
// room; the file keeps one of its free pages (page 1, row 0).
class UsageMap {
public:
    // `pointer` is the map's row: page << 8 | row. `allocate` gives a new page
    // when the map needs a bitmap page of its own.
    UsageMap(PageFile& file, std::uint32_t pointer, const char* what,
             std::function<std::uint32_t()> allocate = {});

    bool contains(std::uint32_t page);
    // Sets or clears a page's bit. A type 0 map too short for the page
    // becomes a type 1 map (its row is long enough for one in every file
    // the engine writes); otherwise JetWriteError (Unsupported).
    void set(std::uint32_t page, bool on);
    // The pages whose bit is set, ascending, below `limit`.
    std::vector<std::uint32_t> pages(std::uint32_t limit);

private:
    struct Bit {
        std::uint32_t page; // the page holding the bit
        std::size_t byte;   // its byte on that page
        unsigned mask;
    };
    // Where the bit of `page` lies; nothing when the map does not reach it.
    bool locate(std::uint32_t page, bool create, Bit& bit);
    void toPagesList();
    MutableBytes row();

    PageFile& m_file;
    std::uint32_t m_page;
    unsigned m_row;
    const char* m_what;
    std::function<std::uint32_t()> m_allocate;
};

// The pages one 0x05 page maps.
inline constexpr std::uint32_t kPagesPerMapPage = (kJetPageSize - 4) * 8;

} // namespace velmora::jet
