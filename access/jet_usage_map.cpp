#include "access/jet_usage_map.h"

#include "access/jet_data_page.h"
#include "access/jet_write_error.h"

#include <algorithm>
#include <string>

namespace velmora::jet {
namespace {

constexpr unsigned char kInlineMap = 0;
constexpr unsigned char kPagesListMap = 1;
constexpr unsigned char kMapPage = 0x05;
constexpr std::size_t kInlineBitsAt = 5; // type, first page
constexpr std::size_t kMapPageBitsAt = 4;

[[noreturn]] void damaged(const char* what, const std::string& why) {
    throw JetWriteError(JetWriteError::Kind::Damaged, kJetDamaged,
                        std::string("Velmora2.db is damaged: ") + what + " " + why);
}

} // namespace

UsageMap::UsageMap(PageFile& file, std::uint32_t pointer, const char* what,
                   std::function<std::uint32_t()> allocate)
    : m_file(file), m_page(pointer >> 8), m_row(pointer & 0xFF), m_what(what),
      m_allocate(std::move(allocate)) {
    const Page& page = m_file.page(m_page, what);
    const RowPlace place = rowPlace(page, m_row);
    if (!place.valid || place.end - place.start < 1 ||
        (page[place.start] != kInlineMap && page[place.start] != kPagesListMap) ||
        (page[place.start] == kInlineMap && place.end - place.start < kInlineBitsAt)) {
        damaged(what, "is not a usage map");
    }
}

MutableBytes UsageMap::row() {
    Page& page = m_file.change(m_page, m_what);
    const RowPlace place = rowPlace(page, m_row);
    return MutableBytes(page).subspan(place.start, place.end - place.start);
}

bool UsageMap::locate(std::uint32_t page, bool create, Bit& bit) {
    const Page& mapPage = m_file.page(m_page, m_what);
    const RowPlace place = rowPlace(mapPage, m_row);
    const Bytes bytes = Bytes(mapPage).subspan(place.start, place.end - place.start);
    if (bytes[0] == kInlineMap) {
        const std::uint32_t first = getLe32(bytes, 1);
        const std::uint64_t reach = std::uint64_t{bytes.size() - kInlineBitsAt} * 8;
        if (page < first || page - first >= reach) {
            return false;
        }
        const std::uint32_t offset = page - first;
        bit = {m_page, place.start + kInlineBitsAt + offset / 8, 1U << (offset % 8)};
        return true;
    }
    const std::size_t slot = page / kPagesPerMapPage;
    if (1 + 4 * (slot + 1) > bytes.size()) {
        return false;
    }
    std::uint32_t mapPageNumber = getLe32(bytes, 1 + 4 * slot);
    if (mapPageNumber == 0) {
        if (!create || !m_allocate) {
            return false;
        }
        mapPageNumber = m_allocate();
        Page& fresh = m_file.change(mapPageNumber, m_what);
        fresh[0] = kMapPage;
        fresh[1] = 0x01;
        putLe32(row(), 1 + 4 * slot, mapPageNumber);
    } else if (m_file.page(mapPageNumber, m_what)[0] != kMapPage) {
        damaged(m_what, "points to a page that is not a usage map page");
    }
    const std::uint32_t offset = page % kPagesPerMapPage;
    bit = {mapPageNumber, kMapPageBitsAt + offset / 8, 1U << (offset % 8)};
    return true;
}

bool UsageMap::contains(std::uint32_t page) {
    Bit bit{};
    return locate(page, false, bit) && (m_file.page(bit.page, m_what)[bit.byte] & bit.mask) != 0;
}

void UsageMap::toPagesList() {
    const std::vector<std::uint32_t> owned = pages(m_file.pageCount());
    MutableBytes bytes = row();
    const std::uint32_t first = getLe32(bytes, 1);
    const std::size_t reach = (bytes.size() - kInlineBitsAt) * 8;
    if (std::uint64_t{first} + reach > kPagesPerMapPage * ((bytes.size() - 1) / 4)) {
        throw JetWriteError(JetWriteError::Kind::Unsupported, kJetCannotWriteInPlace,
                            std::string(m_what) + " cannot grow");
    }
    bytes[0] = kPagesListMap;
    std::fill(bytes.begin() + 1, bytes.end(), 0);
    for (const std::uint32_t page : owned) {
        set(page, true);
    }
}

void UsageMap::set(std::uint32_t page, bool on) {
    Bit bit{};
    if (!locate(page, on, bit)) {
        if (!on) {
            return;
        }
        const Page& mapPage = m_file.page(m_page, m_what);
        const RowPlace place = rowPlace(mapPage, m_row);
        if (mapPage[place.start] != kInlineMap || !m_allocate) {
            throw JetWriteError(JetWriteError::Kind::Unsupported, kJetCannotWriteInPlace,
                                std::string(m_what) + " cannot reach page " + std::to_string(page));
        }
        toPagesList();
        if (!locate(page, true, bit)) {
            throw JetWriteError(JetWriteError::Kind::Unsupported, kJetCannotWriteInPlace,
                                std::string(m_what) + " cannot reach page " + std::to_string(page));
        }
    }
    Page& holder = m_file.change(bit.page, m_what);
    if (on) {
        holder[bit.byte] = static_cast<unsigned char>(holder[bit.byte] | bit.mask);
    } else {
        holder[bit.byte] = static_cast<unsigned char>(holder[bit.byte] & ~bit.mask);
    }
}

std::vector<std::uint32_t> UsageMap::pages(std::uint32_t limit) {
    std::vector<std::uint32_t> out;
    const Page& mapPage = m_file.page(m_page, m_what);
    const RowPlace place = rowPlace(mapPage, m_row);
    const Bytes bytes = Bytes(mapPage).subspan(place.start, place.end - place.start);
    if (bytes[0] == kInlineMap) {
        const std::uint32_t first = getLe32(bytes, 1);
        for (std::size_t i = 0; i < (bytes.size() - kInlineBitsAt) * 8; ++i) {
            if (first + i >= limit) {
                break;
            }
            if ((bytes[kInlineBitsAt + i / 8] >> (i % 8)) & 1U) {
                out.push_back(static_cast<std::uint32_t>(first + i));
            }
        }
        return out;
    }
    const std::vector<unsigned char> copy(bytes.begin(), bytes.end());
    for (std::size_t slot = 0; 1 + 4 * (slot + 1) <= copy.size(); ++slot) {
        const std::uint32_t mapPageNumber = getLe32(Bytes(copy), 1 + 4 * slot);
        if (mapPageNumber == 0) {
            continue;
        }
        const Page& bits = m_file.page(mapPageNumber, m_what);
        if (bits[0] != kMapPage) {
            damaged(m_what, "points to a page that is not a usage map page");
        }
        for (std::uint32_t i = 0; i < kPagesPerMapPage; ++i) {
            const std::uint64_t page = std::uint64_t{slot} * kPagesPerMapPage + i;
            if (page >= limit) {
                break;
            }
            if ((bits[kMapPageBitsAt + i / 8] >> (i % 8)) & 1U) {
                out.push_back(static_cast<std::uint32_t>(page));
            }
        }
    }
    return out;
}

} // namespace velmora::jet
