#include "access/jet_pages.h"

#include "access/jet_bytes.h"

#include <algorithm>

namespace velmora::jet {
namespace {

// Usage map kinds: 0 holds a start page and a bitmap; 1 lists bitmap pages.
constexpr unsigned char kMapInline = 0;
constexpr unsigned char kMapOfPages = 1;
constexpr std::size_t kMapInlineHeader = 5;
constexpr std::size_t kMapPageHeader = 4;

constexpr std::size_t kLongValueHeader = 12;
constexpr std::uint32_t kLongValueInline = 0x80000000U;
constexpr std::uint32_t kLongValueSingle = 0x40000000U;
constexpr std::uint32_t kLongValueLengthMask = 0x3FFFFFFFU;

[[noreturn]] void damaged(const std::string& what) {
    throw JetError("it is damaged: " + what);
}

} // namespace

PageWalk::PageWalk(std::uint32_t pageCount, std::string what)
    : m_pageCount(pageCount), m_what(std::move(what)), m_met(pageCount, false) {}

void PageWalk::enter(std::uint32_t page) {
    if (page == 0 || page >= m_pageCount) {
        damaged(m_what + " points to page " + std::to_string(page) + " of " +
                std::to_string(m_pageCount));
    }
    if (m_met[page]) {
        damaged(m_what + " meets page " + std::to_string(page) + " twice");
    }
    m_met[page] = true;
}

std::optional<RowSpan> rowSpan(const JetFormat& format, std::span<const unsigned char> page,
                               unsigned row) {
    const std::size_t table = format.data.rowOffsets;
    if (page.size() < table) {
        return std::nullopt;
    }
    const unsigned rows = getLe16(page, format.data.rowCount);
    if (row >= rows || table + 2 * static_cast<std::size_t>(rows) > page.size()) {
        return std::nullopt;
    }
    const unsigned raw = getLe16(page, table + 2 * row);
    const std::size_t start = raw & kRowStartMask;
    const std::size_t end =
        row == 0 ? page.size() : getLe16(page, table + 2 * (row - 1)) & kRowStartMask;
    if (start < table + 2 * rows || start > end || end > page.size()) {
        return std::nullopt;
    }
    return RowSpan{start, end - start, raw & (kDeletedRow | kOverflowRow)};
}

std::span<const unsigned char> rowAt(const JetFormat& format, std::uint32_t pageCount,
                                     std::uint32_t pageRow, const PageSource& source,
                                     const std::string& what) {
    const std::uint32_t page = pageRow >> 8;
    if (page == 0 || page >= pageCount) {
        damaged(what + " points to page " + std::to_string(page) + " of " +
                std::to_string(pageCount));
    }
    const std::span<const unsigned char> bytes = source(page);
    const auto span = rowSpan(format, bytes, pageRow & 0xFF);
    if (!span) {
        damaged(what + " cannot be found");
    }
    return bytes.subspan(span->start, span->length);
}

void forEachLiveRow(const JetFormat& format, std::uint32_t pageCount, std::uint32_t owner,
                    std::uint32_t page, const PageSource& source, const std::string& what,
                    const std::function<void(std::span<const unsigned char>, unsigned)>& onRow) {
    constexpr unsigned char kDataPage = 0x01;
    // A copy: following a pointer reads another page through the source.
    const std::span<const unsigned char> read = source(page);
    const std::vector<unsigned char> bytes(read.begin(), read.end());
    if (bytes[0] != kDataPage || getLe32(bytes, format.data.owner) != owner) {
        return;
    }
    const unsigned rows = getLe16(bytes, format.data.rowCount);
    for (unsigned row = 0; row < rows; ++row) {
        const std::string where =
            "row " + std::to_string(row) + " of page " + std::to_string(page) + " in " + what;
        const auto span = rowSpan(format, bytes, row);
        if (!span) {
            damaged(where + " lies outside its page");
        }
        if (span->flags & kDeletedRow) {
            continue;
        }
        const std::span<const unsigned char> stored =
            std::span<const unsigned char>(bytes).subspan(span->start, span->length);
        if ((span->flags & kOverflowRow) == 0) {
            onRow(stored, row);
            continue;
        }
        if (stored.size() < 4) {
            damaged(where + " is a broken overflow pointer");
        }
        const std::uint32_t target = getLe32(stored, 0);
        const std::uint32_t targetPage = target >> 8;
        if (targetPage == 0 || targetPage >= pageCount) {
            damaged(where + " points to page " + std::to_string(targetPage) + " of " +
                    std::to_string(pageCount));
        }
        const std::span<const unsigned char> other = source(targetPage);
        const auto moved = rowSpan(format, other, target & 0xFF);
        // One step only: a pointer to a pointer is damage.
        if (other[0] != kDataPage || getLe32(other, format.data.owner) != owner || !moved ||
            (moved->flags & kOverflowRow)) {
            damaged(where + " points to a row that is not there");
        }
        onRow(other.subspan(moved->start, moved->length), row);
    }
}

std::optional<std::vector<std::uint32_t>>
usageMapPages(const JetFormat& format, std::uint32_t pageCount, std::span<const unsigned char> map,
              const PageSource& source, const std::string& what) {
    if (map.empty()) {
        damaged(what + " is empty");
    }
    std::vector<std::uint32_t> pages;
    // Pages are counted in 64 bits: a start page near 2^32 must not wrap
    // around to the pages at the beginning of the file.
    const auto addBits = [&](std::uint64_t first, std::span<const unsigned char> bits) {
        for (std::size_t i = 0; i < bits.size(); ++i) {
            for (unsigned bit = 0; bit < 8; ++bit) {
                if ((bits[i] & (1U << bit)) == 0) {
                    continue;
                }
                const std::uint64_t page = first + 8 * i + bit;
                if (page == 0 || page >= pageCount) {
                    damaged(what + " names page " + std::to_string(page) + " of " +
                            std::to_string(pageCount));
                }
                pages.push_back(static_cast<std::uint32_t>(page));
            }
        }
    };
    if (map[0] == kMapInline) {
        if (map.size() < kMapInlineHeader) {
            damaged(what + " is cut short");
        }
        addBits(getLe32(map, 1), map.subspan(kMapInlineHeader));
    } else if (map[0] == kMapOfPages) {
        const std::uint64_t perMapPage = (format.pageSize - kMapPageHeader) * 8;
        PageWalk walk(pageCount, what);
        std::uint64_t index = 0;
        for (std::size_t at = 1; at + 4 <= map.size(); at += 4, ++index) {
            const std::uint32_t mapPage = getLe32(map, at);
            if (mapPage == 0) {
                continue;
            }
            walk.enter(mapPage);
            const std::span<const unsigned char> bits = source(mapPage);
            addBits(index * perMapPage, bits.subspan(kMapPageHeader));
        }
    } else {
        return std::nullopt;
    }
    // Ascending and each once by construction: each map page covers pages
    // above those of the one before it.
    return pages;
}

std::string readLongValue(const JetFormat& format, std::uint32_t pageCount,
                          std::span<const unsigned char> field, const PageSource& source,
                          const std::string& what) {
    if (field.size() < kLongValueHeader) {
        damaged(what + " is broken");
    }
    const std::uint32_t word = getLe32(field, 0);
    const std::size_t length = word & kLongValueLengthMask;
    if (word & kLongValueInline) {
        if (kLongValueHeader + length > field.size()) {
            damaged(what + " is longer than its row");
        }
        return std::string(reinterpret_cast<const char*>(field.data()) + kLongValueHeader, length);
    }
    // No value is longer than the pages it could occupy.
    if (static_cast<std::uint64_t>(length) >
        static_cast<std::uint64_t>(pageCount) * format.pageSize) {
        damaged(what + " claims " + std::to_string(length) + " bytes, more than the file holds");
    }
    const bool single = (word & kLongValueSingle) != 0;
    const std::size_t skip = single ? 0 : 4; // a chain's rows start with the next pointer
    std::string value;
    value.reserve(length);
    // A row met twice means the chain loops: damage, not a value that repeats.
    std::set<std::uint32_t> met;
    std::uint32_t pageRow = getLe32(field, 4);
    while (value.size() < length) {
        if (!met.insert(pageRow).second) {
            damaged(what + " meets row " + std::to_string(pageRow & 0xFF) + " of page " +
                    std::to_string(pageRow >> 8) + " twice");
        }
        const std::span<const unsigned char> row = rowAt(format, pageCount, pageRow, source, what);
        if (row.size() <= skip) {
            damaged(what + " cannot be found");
        }
        const std::size_t take = std::min(row.size() - skip, length - value.size());
        value.append(reinterpret_cast<const char*>(row.data()) + skip, take);
        if (single) {
            break;
        }
        pageRow = getLe32(row, 0);
        if (pageRow == 0) {
            break;
        }
    }
    if (value.size() < length) {
        damaged(what + " is shorter than it says");
    }
    return value;
}

} // namespace velmora::jet
