#include "access/jet_usage_map.h"

#include "access/jet_pages.h"
#include "access/jet_write_error.h"

#include <algorithm>

namespace velmora::jet {
namespace {

constexpr unsigned char kInlineMap = 0;
constexpr unsigned char kMapOfPages = 1;
constexpr unsigned char kMapPage = 0x05;
constexpr std::size_t kInlineBitsAt = 5; // kind, first page
constexpr std::size_t kMapPageBitsAt = 4;

} // namespace

UsageMap::UsageMap(PageFile& file, std::uint32_t pointer, std::string what,
                   std::function<std::uint32_t()> allocate)
    : m_file(file), m_page(pointer >> 8), m_row(pointer & 0xFF), m_what(std::move(what)),
      m_allocate(std::move(allocate)) {
    const auto span = rowSpan(m_file.format(), m_file.bytes(m_page, m_what), m_row);
    if (!span || span->length < 1) {
        throwDamaged(m_file.name(), m_what + " is not a usage map");
    }
    const Bytes bytes = row();
    if ((bytes[0] != kInlineMap && bytes[0] != kMapOfPages) ||
        (bytes[0] == kInlineMap && bytes.size() < kInlineBitsAt)) {
        throwDamaged(m_file.name(), m_what + " is not a usage map");
    }
}

std::uint32_t UsageMap::pagesPerMapPage() const {
    return static_cast<std::uint32_t>((m_file.format().pageSize - kMapPageBitsAt) * 8);
}

Bytes UsageMap::row() {
    const Bytes page = m_file.bytes(m_page, m_what);
    const auto span = rowSpan(m_file.format(), page, m_row);
    return page.subspan(span->start, span->length);
}

MutableBytes UsageMap::changeRow() {
    const auto span = rowSpan(m_file.format(), m_file.bytes(m_page, m_what), m_row);
    return MutableBytes(m_file.change(m_page, m_what, WriteStage::Maps))
        .subspan(span->start, span->length);
}

bool UsageMap::locate(std::uint32_t page, Bit& bit) {
    const Bytes bytes = row();
    if (bytes[0] == kInlineMap) {
        const std::uint32_t first = getLe32(bytes, 1);
        const std::uint64_t reach = std::uint64_t{bytes.size() - kInlineBitsAt} * 8;
        if (page < first || page - first >= reach) {
            return false;
        }
        const std::uint32_t offset = page - first;
        const auto span = rowSpan(m_file.format(), m_file.bytes(m_page, m_what), m_row);
        bit = {m_page, span->start + kInlineBitsAt + offset / 8, 1U << (offset % 8)};
        return true;
    }
    const std::size_t slot = page / pagesPerMapPage();
    if (1 + 4 * (slot + 1) > bytes.size()) {
        return false;
    }
    const std::uint32_t mapPage = getLe32(bytes, 1 + 4 * slot);
    if (mapPage == 0) {
        return false;
    }
    if (m_file.bytes(mapPage, m_what)[0] != kMapPage) {
        throwDamaged(m_file.name(), m_what + " points to a page that is not a usage map page");
    }
    const std::uint32_t offset = page % pagesPerMapPage();
    bit = {mapPage, kMapPageBitsAt + offset / 8, 1U << (offset % 8)};
    return true;
}

bool UsageMap::reaches(std::uint32_t page) {
    Bit bit{};
    return locate(page, bit);
}

bool UsageMap::contains(std::uint32_t page) {
    Bit bit{};
    return locate(page, bit) && (m_file.bytes(bit.page, m_what)[bit.byte] & bit.mask) != 0;
}

void UsageMap::extendTo(std::uint32_t page) {
    if (reaches(page)) {
        return;
    }
    const std::size_t slot = page / pagesPerMapPage();
    const std::size_t slots = (row().size() - 1) / 4;
    if (!m_allocate || slot >= slots) {
        throwUnsupported(m_what + " of " + m_file.name() + " cannot reach page " +
                         std::to_string(page));
    }
    if (row()[0] == kInlineMap) {
        // Kind 1 in the same row: its window starts at page 0, so every page
        // the old one reached stays inside it with its bit.
        const std::vector<unsigned char> old(row().begin(), row().end());
        const std::uint64_t first = getLe32(old, 1);
        const std::uint64_t reach = std::uint64_t{old.size() - kInlineBitsAt} * 8;
        if (first + reach > std::uint64_t{pagesPerMapPage()} * slots) {
            throwUnsupported(m_what + " of " + m_file.name() + " cannot grow");
        }
        const MutableBytes bytes = changeRow();
        bytes[0] = kMapOfPages;
        std::fill(bytes.begin() + 1, bytes.end(), 0);
        for (std::uint64_t at = first; at < first + reach; at += pagesPerMapPage()) {
            extendTo(static_cast<std::uint32_t>(at));
        }
        if (reach > 0) {
            extendTo(static_cast<std::uint32_t>(first + reach - 1));
        }
        for (std::uint64_t bit = 0; bit < reach; ++bit) {
            if ((old[kInlineBitsAt + bit / 8] >> (bit % 8)) & 1U) {
                set(static_cast<std::uint32_t>(first + bit), true);
            }
        }
        extendTo(page);
        return;
    }
    const std::uint32_t mapPage = m_allocate();
    Page& fresh = m_file.change(mapPage, m_what, WriteStage::Maps);
    fresh[0] = kMapPage;
    fresh[1] = 0x01;
    putLe32(changeRow(), 1 + 4 * slot, mapPage);
}

void UsageMap::set(std::uint32_t page, bool on) {
    Bit bit{};
    if (!locate(page, bit)) {
        if (!on) {
            return;
        }
        extendTo(page);
        locate(page, bit);
    }
    Page& holder = m_file.change(bit.page, m_what, WriteStage::Maps);
    if (on) {
        holder[bit.byte] = static_cast<unsigned char>(holder[bit.byte] | bit.mask);
    } else {
        holder[bit.byte] = static_cast<unsigned char>(holder[bit.byte] & ~bit.mask);
    }
}

std::vector<std::uint32_t> UsageMap::pages(std::uint32_t limit) {
    const std::vector<unsigned char> map(row().begin(), row().end());
    const PageSource source = [this](std::uint32_t number) { return m_file.bytes(number, m_what); };
    try {
        auto named = usageMapPages(m_file.format(), m_file.pageCount(), map, source, m_what);
        if (!named) {
            throwDamaged(m_file.name(), m_what + " is not a usage map");
        }
        named->erase(std::lower_bound(named->begin(), named->end(), limit), named->end());
        return *named;
    } catch (const JetError& error) {
        throwDamaged(m_file.name(), error);
    }
}

} // namespace velmora::jet
