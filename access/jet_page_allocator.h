#pragma once

#include "access/jet_page_file.h"

#include <cstdint>

namespace velmora::jet {

// The one way the writer takes a new page: it appends the page and keeps the
// file's map of free pages (page 1, row 0; a set bit is a free page) true
// under both readings of it, the one that takes a page outside the map's
// reach as free and the one that takes it as in use: the map is made to
// reach every appended page (never by moving its window, so no page it
// reached leaves it), and the page's bit is cleared.
class PageAllocator {
public:
    explicit PageAllocator(PageFile& file) : m_file(file) {}

    std::uint32_t allocate();

private:
    PageFile& m_file;
};

} // namespace velmora::jet
