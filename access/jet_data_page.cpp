#include "access/jet_data_page.h"

#include <algorithm>
#include <cstring>

namespace velmora::jet {
namespace {

constexpr std::size_t kFreeSpaceAt = 2;
constexpr std::size_t kOwnerAt = 4;
constexpr unsigned char kLongValueMark[4] = {'L', 'V', 'A', 'L'};

unsigned rowCount(const Page& page) {
    return getLe16(page, kRowCountAt);
}

} // namespace

RowPlace rowPlace(const Page& page, unsigned row) {
    const unsigned count = rowCount(page);
    if (row >= count || count > kMaxRowsPerPage) {
        return {};
    }
    const std::size_t start = getLe16(page, kRowOffsetsAt + 2 * row) & kRowStartMask;
    const std::size_t end =
        row == 0 ? kJetPageSize : getLe16(page, kRowOffsetsAt + 2 * (row - 1)) & kRowStartMask;
    if (start < kRowOffsetsAt + 2 * count || start > end || end > kJetPageSize) {
        return {};
    }
    return {true, start, end};
}

long freeSpace(const Page& page) {
    const unsigned count = rowCount(page);
    if (count > kMaxRowsPerPage) {
        return -1;
    }
    std::size_t lowest = kJetPageSize;
    for (unsigned row = 0; row < count; ++row) {
        const std::size_t start = getLe16(page, kRowOffsetsAt + 2 * row) & kRowStartMask;
        // Rows lie downwards in their order; anything else is not a page we write into.
        if (start > lowest) {
            return -1;
        }
        lowest = start;
    }
    const std::size_t table = kRowOffsetsAt + 2 * count;
    return lowest < table ? -1 : static_cast<long>(lowest - table);
}

void initDataPage(Page& page, std::uint32_t owner, bool longValues) {
    page.fill(0);
    page[0] = kDataPageType;
    page[1] = 0x01;
    if (longValues) {
        std::memcpy(page.data() + kOwnerAt, kLongValueMark, sizeof kLongValueMark);
    } else {
        putLe32(page, kOwnerAt, owner);
    }
    putLe16(page, kFreeSpaceAt, kJetPageSize - kRowOffsetsAt);
}

unsigned addRow(Page& page, Bytes row) {
    const unsigned count = rowCount(page);
    std::size_t lowest = kJetPageSize;
    if (count > 0) {
        lowest = getLe16(page, kRowOffsetsAt + 2 * (count - 1)) & kRowStartMask;
    }
    const std::size_t start = lowest - row.size();
    std::copy(row.begin(), row.end(), page.begin() + static_cast<std::ptrdiff_t>(start));
    putLe16(page, kRowOffsetsAt + 2 * count, static_cast<std::uint32_t>(start));
    putLe16(page, kRowCountAt, count + 1);
    putLe16(page, kFreeSpaceAt,
            static_cast<std::uint32_t>(start - (kRowOffsetsAt + 2 * (count + 1))));
    return count;
}

bool isDataPageOf(const Page& page, std::uint32_t owner) {
    return page[0] == kDataPageType && getLe32(page, kOwnerAt) == owner;
}

bool isLongValuePage(const Page& page) {
    return page[0] == kDataPageType &&
           std::memcmp(page.data() + kOwnerAt, kLongValueMark, sizeof kLongValueMark) == 0;
}

} // namespace velmora::jet
