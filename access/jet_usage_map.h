#pragma once

#include "access/jet_page_file.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace velmora::jet {

// A page usage map: a row (on page 1, or another page of map rows) that is
// either a bitmap over a window of pages (kind 0: its first page, then the
// bits) or a list of bitmap pages (0x05) that each hold the bits of
// (page size - 4) * 8 pages from 0 (kind 1). What a set bit means is the
// map's own: a table keeps a map of the pages it owns and one of those with
// room; the file keeps one of its free pages (page 1, row 0). Reading goes
// through usageMapPages (jet_pages.h), the one reader of both kinds.
class UsageMap {
public:
    // `pointer` is the map's row: page << 8 | row. `allocate` gives a new page
    // when the map needs a bitmap page of its own.
    UsageMap(PageFile& file, std::uint32_t pointer, std::string what,
             std::function<std::uint32_t()> allocate = {});

    bool contains(std::uint32_t page);
    // Whether the map has a bit for `page` (a kind 1 map: and a bitmap page there).
    bool reaches(std::uint32_t page);
    // Sets or clears a page's bit. Setting one the map does not reach grows
    // it (below); clearing one it does not reach changes nothing.
    void set(std::uint32_t page, bool on);
    // Makes the map reach `page`, keeping every bit it has: a kind 0 map too
    // short becomes a kind 1 map in the same row (whose reach starts at 0, so
    // no page leaves it), and a kind 1 map takes a bitmap page for the slot.
    // Pages that come into the reach get a clear bit. JetWriteError
    // (Unsupported) when the row cannot hold enough slots.
    void extendTo(std::uint32_t page);
    // The pages whose bit is set, ascending, below `limit`.
    std::vector<std::uint32_t> pages(std::uint32_t limit);

private:
    struct Bit {
        std::uint32_t page; // the page holding the bit
        std::size_t byte;   // its byte on that page
        unsigned mask;
    };
    // Where the bit of `page` lies; false when the map does not reach it.
    bool locate(std::uint32_t page, Bit& bit);
    Bytes row();
    MutableBytes changeRow();
    std::uint32_t pagesPerMapPage() const;

    PageFile& m_file;
    std::uint32_t m_page;
    unsigned m_row;
    std::string m_what;
    std::function<std::uint32_t()> m_allocate;
};

} // namespace velmora::jet
