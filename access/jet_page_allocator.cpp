#include "access/jet_page_allocator.h"

#include "access/jet_usage_map.h"

namespace velmora::jet {
namespace {

constexpr std::uint32_t kFreePagesMap = 1U << 8; // page 1, row 0

} // namespace

std::uint32_t PageAllocator::allocate() {
    const std::uint32_t number = m_file.append();
    // The map's own new bitmap pages are appended here and marked in turn.
    UsageMap freePages(m_file, kFreePagesMap, "the map of free pages",
                       [this] { return m_file.append(); });
    for (std::uint32_t page = number; page < m_file.pageCount(); ++page) {
        freePages.extendTo(page);
        freePages.set(page, false);
    }
    return number;
}

} // namespace velmora::jet
