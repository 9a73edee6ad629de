#include "access/jet_pages.h"

#include <algorithm>

namespace velmora::jet {
namespace {

constexpr unsigned kOffsetMask = 0x1FFF;
constexpr unsigned char kTablePage = 0x02;
// Usage map kinds: 0 holds a start page and a bitmap; 1 lists bitmap pages.
constexpr unsigned char kMapInline = 0;
constexpr unsigned char kMapOfPages = 1;
constexpr std::size_t kMapInlineHeader = 5;
constexpr std::size_t kMapPageHeader = 4;
// A continuation page of a table definition: its header, and where the next lies.
constexpr std::size_t kDefinitionPageHeader = 8;
constexpr std::size_t kNextPageOffset = 4;

constexpr std::size_t kLongValueHeader = 12;
constexpr std::uint32_t kLongValueInline = 0x80000000U;
constexpr std::uint32_t kLongValueSingle = 0x40000000U;
constexpr std::uint32_t kLongValueLengthMask = 0x3FFFFFFFU;

std::uint32_t le16(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8;
}
std::uint32_t le32(const unsigned char* p) {
    return le16(p) | le16(p + 2) << 16;
}

[[noreturn]] void damaged(const std::string& what) {
    throw JetError("it is damaged: " + what);
}

} // namespace

const PageLayout& pageLayout(AccessFormat format) {
    return format == AccessFormat::Jet3 ? kJet3Layout : kJet4Layout;
}

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

std::optional<RowSpan> rowSpan(const PageLayout& layout, std::span<const unsigned char> page,
                               unsigned row) {
    const std::size_t countOffset = layout.rowCountOffset;
    if (page.size() < countOffset + 2) {
        return std::nullopt;
    }
    const unsigned rows = le16(page.data() + countOffset);
    const std::size_t table = countOffset + 2;
    if (row >= rows || table + 2 * static_cast<std::size_t>(rows) > page.size()) {
        return std::nullopt;
    }
    const unsigned raw = le16(page.data() + table + 2 * row);
    const std::size_t start = raw & kOffsetMask;
    const std::size_t end =
        row == 0 ? page.size() : le16(page.data() + table + 2 * (row - 1)) & kOffsetMask;
    if (start < table + 2 * rows || start > end || end > page.size()) {
        return std::nullopt;
    }
    return RowSpan{start, end - start, raw & (kDeletedRow | kOverflowRow)};
}

std::span<const unsigned char> rowAt(const PageLayout& layout, std::uint32_t pageCount,
                                     std::uint32_t pageRow, const PageSource& source,
                                     const std::string& what) {
    const std::uint32_t page = pageRow >> 8;
    if (page == 0 || page >= pageCount) {
        damaged(what + " points to page " + std::to_string(page) + " of " +
                std::to_string(pageCount));
    }
    const std::span<const unsigned char> bytes = source(page);
    const auto span = rowSpan(layout, bytes, pageRow & 0xFF);
    if (!span) {
        damaged(what + " cannot be found");
    }
    return bytes.subspan(span->start, span->length);
}

std::optional<std::vector<std::uint32_t>>
usageMapPages(const PageLayout& layout, std::uint32_t pageCount, std::span<const unsigned char> map,
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
        addBits(le32(map.data() + 1), map.subspan(kMapInlineHeader));
    } else if (map[0] == kMapOfPages) {
        const std::uint64_t perMapPage = (layout.pageSize - kMapPageHeader) * 8;
        PageWalk walk(pageCount, what);
        std::uint64_t index = 0;
        for (std::size_t at = 1; at + 4 <= map.size(); at += 4, ++index) {
            const std::uint32_t mapPage = le32(map.data() + at);
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

CheckedDefinition readTableDefinition(const PageLayout& layout, std::uint32_t pageCount,
                                      std::uint32_t page, const PageSource& source,
                                      const std::string& what) {
    CheckedDefinition definition;
    const auto damagedDefinition = [&](const std::string& reason) {
        throw JetError("the definition of " + what + " is damaged: " + reason);
    };
    if (page == 0) {
        damagedDefinition("it lies on page 0, the file's header");
    }
    std::vector<bool> met(pageCount, false);
    for (std::uint32_t next = page; next != 0;) {
        const std::string where = definition.pages.empty() ? "it lies on" : "it continues on";
        if (next >= pageCount) {
            damagedDefinition(where + " page " + std::to_string(next) + " of " +
                              std::to_string(pageCount));
        }
        if (met[next]) {
            damagedDefinition(where + " page " + std::to_string(next) + " twice");
        }
        met[next] = true;
        const std::span<const unsigned char> bytes = source(next);
        if (bytes[0] != kTablePage) {
            damagedDefinition(where + " page " + std::to_string(next) +
                              ", which is not a table definition");
        }
        definition.pages.push_back(next);
        const std::size_t from = definition.bytes.empty() ? 0 : kDefinitionPageHeader;
        definition.bytes.insert(definition.bytes.end(), bytes.begin() + from, bytes.end());
        next = le32(bytes.data() + kNextPageOffset);
    }
    const std::vector<unsigned char>& all = definition.bytes;
    definition.usageMap = le32(all.data() + layout.usageMapOffset);
    definition.freeMap = le32(all.data() + layout.freeMapOffset);
    const std::size_t columns = le16(all.data() + layout.columnCountOffset);
    const std::uint64_t realIndexes = le32(all.data() + layout.realIndexCountOffset);
    // Every count is checked against the bytes before anything is read: a
    // definition claims no more than its pages hold.
    const auto claimsTooMuch = [&](const std::string& claim) {
        throw JetError("the definition of " + what + " is damaged: it claims " + claim + " on " +
                       std::to_string(definition.pages.size()) +
                       (definition.pages.size() == 1 ? " page" : " pages"));
    };
    std::uint64_t at = layout.columnsOffset + realIndexes * layout.realIndexEntrySize;
    if (at > all.size()) {
        claimsTooMuch(std::to_string(realIndexes) + " indexes");
    }
    const std::uint64_t entriesEnd = at + columns * layout.columnEntrySize;
    if (entriesEnd > all.size()) {
        claimsTooMuch(std::to_string(columns) + " columns");
    }
    definition.columns.resize(columns);
    for (DefinedColumn& column : definition.columns) {
        column.entry.assign(all.begin() + static_cast<std::ptrdiff_t>(at),
                            all.begin() + static_cast<std::ptrdiff_t>(at + layout.columnEntrySize));
        column.type = column.entry[0];
        column.number = column.entry[layout.columnNumberOffset];
        column.decimalScale = column.entry[layout.decimalScaleOffset];
        at += layout.columnEntrySize;
    }
    for (DefinedColumn& column : definition.columns) {
        if (at + layout.nameLengthSize > all.size()) {
            claimsTooMuch(std::to_string(columns) + " column names");
        }
        const std::size_t length = layout.nameLengthSize == 1 ? all[at] : le16(all.data() + at);
        at += layout.nameLengthSize;
        if (at + length > all.size()) {
            claimsTooMuch(std::to_string(columns) + " column names");
        }
        column.name.assign(all.begin() + static_cast<std::ptrdiff_t>(at),
                           all.begin() + static_cast<std::ptrdiff_t>(at + length));
        at += length;
    }
    return definition;
}

std::string readLongValue(const PageLayout& layout, std::uint32_t pageCount,
                          std::span<const unsigned char> field, const PageSource& source,
                          const std::string& what) {
    if (field.size() < kLongValueHeader) {
        damaged(what + " is broken");
    }
    const std::uint32_t word = le32(field.data());
    const std::size_t length = word & kLongValueLengthMask;
    if (word & kLongValueInline) {
        if (kLongValueHeader + length > field.size()) {
            damaged(what + " is longer than its row");
        }
        return std::string(reinterpret_cast<const char*>(field.data()) + kLongValueHeader, length);
    }
    // No value is longer than the pages it could occupy.
    if (static_cast<std::uint64_t>(length) >
        static_cast<std::uint64_t>(pageCount) * layout.pageSize) {
        damaged(what + " claims " + std::to_string(length) + " bytes, more than the file holds");
    }
    const bool single = (word & kLongValueSingle) != 0;
    const std::size_t skip = single ? 0 : 4; // a chain's rows start with the next pointer
    std::string value;
    value.reserve(length);
    // A row met twice means the chain loops: damage, not a value that repeats.
    std::set<std::uint32_t> met;
    std::uint32_t pageRow = le32(field.data() + 4);
    while (value.size() < length) {
        if (!met.insert(pageRow).second) {
            damaged(what + " meets row " + std::to_string(pageRow & 0xFF) + " of page " +
                    std::to_string(pageRow >> 8) + " twice");
        }
        const std::span<const unsigned char> row = rowAt(layout, pageCount, pageRow, source, what);
        if (row.size() <= skip) {
            damaged(what + " cannot be found");
        }
        const std::size_t take = std::min(row.size() - skip, length - value.size());
        value.append(reinterpret_cast<const char*>(row.data()) + skip, take);
        if (single) {
            break;
        }
        pageRow = le32(row.data());
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
