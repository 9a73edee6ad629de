#include "access/jet_long_value.h"

#include "access/jet_data_page.h"
#include "access/jet_usage_map.h"

#include <algorithm>
#include <optional>

namespace velmora::jet {
namespace {

constexpr std::size_t kLongValueHeaderSize = 12;
// Values up to this length stay in the row itself.
constexpr std::size_t kInlineLimit = 64;
constexpr std::uint32_t kInline = 0x80000000U;
constexpr std::uint32_t kSingleRow = 0x40000000U;
constexpr std::size_t kChainPointer = 4;
// Pages of the column's map looked at for room before a new one is taken.
constexpr std::size_t kLongValuePageCandidates = 4;

std::vector<unsigned char> header(std::uint32_t lengthAndKind, std::uint32_t pointer) {
    std::vector<unsigned char> out(kLongValueHeaderSize, 0);
    putLe32(out, 0, lengthAndKind);
    putLe32(out, 4, pointer);
    return out;
}

} // namespace

std::vector<unsigned char> storeLongValue(PageFile& file, PageAllocator& allocator,
                                          const TableDefinition& definition,
                                          const ColumnDefinition& column, Bytes data) {
    const JetFormat& format = file.format();
    const auto allocate = [&allocator] { return allocator.allocate(); };
    const auto length = static_cast<std::uint32_t>(data.size());
    if (data.size() <= kInlineLimit) {
        std::vector<unsigned char> out = header(length | kInline, 0);
        out.insert(out.end(), data.begin(), data.end());
        return out;
    }
    std::optional<UsageMap> used;
    std::optional<UsageMap> free;
    for (const LongValueMaps& maps : definition.longValueMaps) {
        if (maps.column == column.number) {
            used.emplace(file, maps.usedPagesMap, "the long-value page map of " + column.name,
                         allocate);
            free.emplace(file, maps.freeSpaceMap, "the long-value room map of " + column.name,
                         allocate);
        }
    }
    const auto newLongValuePage = [&] {
        const std::uint32_t number = allocate();
        initDataPage(format, file.changeBytes(number, "a long-value page"), 0, true);
        if (used) {
            used->set(number, true);
        }
        return number;
    };
    const auto noteRoom = [&](std::uint32_t number) {
        if (free) {
            free->set(number, freeSpace(format, file.bytes(number, "a long-value page")) >
                                  static_cast<long>(kInlineLimit));
        }
    };
    if (data.size() <= maxRowSize(format)) {
        std::uint32_t target = 0;
        if (free && used) {
            std::vector<std::uint32_t> pages = free->pages(file.pageCount());
            std::reverse(pages.begin(), pages.end());
            for (std::size_t i = 0; i < pages.size() && i < kLongValuePageCandidates && target == 0;
                 ++i) {
                const Bytes page = file.bytes(pages[i], "a long-value page");
                if (used->contains(pages[i]) && isLongValuePage(format, page) &&
                    hasRoomFor(format, page, data.size())) {
                    target = pages[i];
                }
            }
        }
        if (target == 0) {
            target = newLongValuePage();
        }
        const unsigned row = addRow(format, file.changeBytes(target, "a long-value page"), data);
        noteRoom(target);
        return header(length | kSingleRow, target << 8 | row);
    }
    // A chain: each row holds the pointer to the next part, then its part.
    const std::size_t part = maxRowSize(format) - kChainPointer;
    const std::size_t parts = (data.size() + part - 1) / part;
    std::vector<std::uint32_t> pages;
    for (std::size_t i = 0; i < parts; ++i) {
        pages.push_back(newLongValuePage());
    }
    for (std::size_t i = 0; i < parts; ++i) {
        const Bytes piece = data.subspan(i * part, std::min(part, data.size() - i * part));
        std::vector<unsigned char> row(kChainPointer, 0);
        putLe32(row, 0, i + 1 < parts ? pages[i + 1] << 8 : 0);
        row.insert(row.end(), piece.begin(), piece.end());
        addRow(format, file.changeBytes(pages[i], "a long-value page"), row);
        noteRoom(pages[i]);
    }
    return header(length, pages.front() << 8);
}

} // namespace velmora::jet
