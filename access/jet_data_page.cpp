#include "access/jet_data_page.h"

#include <algorithm>
#include <cstring>

namespace velmora::jet {
namespace {

constexpr unsigned char kDataPageType = 0x01;
constexpr unsigned char kLongValueMark[4] = {'L', 'V', 'A', 'L'};

} // namespace

long freeSpace(const JetFormat& format, Bytes page) {
    const unsigned count = rowCount(format, page);
    if (count > kMaxRowsPerPage) {
        return -1;
    }
    std::size_t lowest = format.pageSize;
    for (unsigned row = 0; row < count; ++row) {
        const std::size_t start = getLe16(page, format.data.rowOffsets + 2 * row) & kRowStartMask;
        // Rows lie downwards in their order; anything else is not a page we write into.
        if (start > lowest) {
            return -1;
        }
        lowest = start;
    }
    const std::size_t table = format.data.rowOffsets + 2 * count;
    return lowest < table ? -1 : static_cast<long>(lowest - table);
}

bool hasRoomFor(const JetFormat& format, Bytes page, std::size_t size) {
    return freeSpace(format, page) >= static_cast<long>(size + 2) &&
           rowCount(format, page) < kMaxRowsPerPage;
}

void initDataPage(const JetFormat& format, MutableBytes page, std::uint32_t owner,
                  bool longValues) {
    std::fill(page.begin(), page.end(), 0);
    page[0] = kDataPageType;
    page[1] = 0x01;
    if (longValues) {
        std::memcpy(page.data() + format.data.owner, kLongValueMark, sizeof kLongValueMark);
    } else {
        putLe32(page, format.data.owner, owner);
    }
    putLe16(page, format.data.freeSpace,
            static_cast<std::uint32_t>(format.pageSize - format.data.rowOffsets));
}

unsigned addRow(const JetFormat& format, MutableBytes page, Bytes row) {
    const unsigned count = rowCount(format, page);
    const std::size_t slots = format.data.rowOffsets;
    std::size_t lowest = format.pageSize;
    if (count > 0) {
        lowest = getLe16(page, slots + 2 * (count - 1)) & kRowStartMask;
    }
    const std::size_t start = lowest - row.size();
    std::copy(row.begin(), row.end(), page.begin() + static_cast<std::ptrdiff_t>(start));
    putLe16(page, slots + 2 * count, static_cast<std::uint32_t>(start));
    putLe16(page, format.data.rowCount, count + 1);
    putLe16(page, format.data.freeSpace,
            static_cast<std::uint32_t>(start - (slots + 2 * (count + 1))));
    return count;
}

bool isDataPageOf(const JetFormat& format, Bytes page, std::uint32_t owner) {
    return page[0] == kDataPageType && getLe32(page, format.data.owner) == owner;
}

bool isLongValuePage(const JetFormat& format, Bytes page) {
    return page[0] == kDataPageType &&
           std::memcmp(page.data() + format.data.owner, kLongValueMark, sizeof kLongValueMark) == 0;
}

} // namespace velmora::jet
