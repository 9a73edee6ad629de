#include "access/jet_index_tree.h"

#include "access/jet_usage_map.h"
#include "access/jet_write_error.h"

#include <algorithm>
#include <set>
#include <string>

namespace velmora::jet {
namespace {

constexpr unsigned char kNodePage = 0x03;
constexpr unsigned char kLeafPage = 0x04;
constexpr std::size_t kFreeSpaceAt = 2;
constexpr std::size_t kOwnerAt = 4;
constexpr std::size_t kPrevAt = 12;
constexpr std::size_t kNextAt = 16;
constexpr std::size_t kTailAt = 20;
constexpr std::size_t kPrefixAt = 24;
constexpr std::size_t kMaskAt = 0x1B;
constexpr std::size_t kEntriesAt = 0x1E0;
constexpr std::size_t kEntrySpace = kJetPageSize - kEntriesAt;
constexpr std::size_t kRowPointer = 4;   // page (3) and row (1)
constexpr std::size_t kChildPointer = 4; // a node entry's child page
constexpr std::size_t kMaxDepth = 16;

[[noreturn]] void damaged(const std::string& why) {
    throw JetWriteError(JetWriteError::Kind::Damaged, kJetDamaged,
                        "Velmora2.db is damaged: an index of table CD " + why);
}

// An entry without its child pointer: what entries are ordered by.
Bytes ordered(const std::vector<unsigned char>& entry, bool leaf) {
    return Bytes(entry).first(entry.size() - (leaf ? 0 : kChildPointer));
}

bool less(Bytes a, Bytes b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
}

bool sameKey(const std::vector<unsigned char>& entry, bool leaf,
             const std::vector<unsigned char>& key) {
    const Bytes whole = ordered(entry, leaf);
    return whole.size() == key.size() + kRowPointer &&
           std::equal(key.begin(), key.end(), whole.begin());
}

std::size_t sharedPrefix(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
    std::size_t n = 0;
    while (n < a.size() && n < b.size() && a[n] == b[n]) {
        ++n;
    }
    return n;
}

std::size_t usedBytes(const std::vector<std::vector<unsigned char>>& entries) {
    if (entries.empty()) {
        return 0;
    }
    const std::size_t prefix = sharedPrefix(entries.front(), entries.back());
    std::size_t used = entries.front().size();
    for (std::size_t i = 1; i < entries.size(); ++i) {
        used += entries[i].size() - prefix;
    }
    return used;
}

} // namespace

IndexTree::IndexTree(PageFile& file, WritableTable& definition, std::size_t realIndex,
                     std::function<std::uint32_t()> allocate)
    : m_file(file), m_definition(definition), m_index(realIndex), m_allocate(std::move(allocate)) {}

IndexTree::IndexPage IndexTree::read(std::uint32_t number) {
    const Page& raw = m_file.page(number, "an index of table CD");
    IndexPage page;
    page.number = number;
    if ((raw[0] != kNodePage && raw[0] != kLeafPage) ||
        getLe32(raw, kOwnerAt) != m_definition.page()) {
        damaged("points to page " + std::to_string(number) + ", which is not one of its pages");
    }
    page.leaf = raw[0] == kLeafPage;
    page.prev = getLe32(raw, kPrevAt);
    page.next = getLe32(raw, kNextAt);
    page.tail = getLe32(raw, kTailAt);
    const std::size_t prefix = getLe16(raw, kPrefixAt);
    const std::size_t pointer = kRowPointer + (page.leaf ? 0 : kChildPointer);
    std::size_t start = 0;
    for (std::size_t bit = 1; bit <= kEntrySpace; ++bit) {
        if (((raw[kMaskAt + bit / 8] >> (bit % 8)) & 1U) == 0) {
            continue;
        }
        std::vector<unsigned char> entry;
        if (!page.entries.empty()) {
            entry.assign(page.entries.front().begin(),
                         page.entries.front().begin() + static_cast<std::ptrdiff_t>(prefix));
        }
        entry.insert(entry.end(), raw.begin() + static_cast<std::ptrdiff_t>(kEntriesAt + start),
                     raw.begin() + static_cast<std::ptrdiff_t>(kEntriesAt + bit));
        if (entry.size() <= pointer || (page.entries.empty() && entry.size() < prefix)) {
            damaged("has a malformed entry on page " + std::to_string(number));
        }
        page.entries.push_back(std::move(entry));
        start = bit;
    }
    return page;
}

bool IndexTree::fits(const IndexPage& page) {
    return usedBytes(page.entries) <= kEntrySpace;
}

void IndexTree::write(const IndexPage& page) {
    Page& raw = m_file.change(page.number, "an index of table CD");
    raw[0] = page.leaf ? kLeafPage : kNodePage;
    raw[1] = 0x01;
    putLe32(raw, kOwnerAt, m_definition.page());
    putLe32(raw, kPrevAt, page.prev);
    putLe32(raw, kNextAt, page.next);
    putLe32(raw, kTailAt, page.tail);
    std::fill(raw.begin() + kMaskAt, raw.end(), 0);
    const std::size_t prefix =
        page.entries.empty() ? 0 : sharedPrefix(page.entries.front(), page.entries.back());
    putLe16(raw, kPrefixAt, static_cast<std::uint32_t>(prefix));
    std::size_t at = 0;
    for (std::size_t i = 0; i < page.entries.size(); ++i) {
        const std::vector<unsigned char>& entry = page.entries[i];
        const std::size_t skip = i == 0 ? 0 : prefix;
        std::copy(entry.begin() + static_cast<std::ptrdiff_t>(skip), entry.end(),
                  raw.begin() + static_cast<std::ptrdiff_t>(kEntriesAt + at));
        at += entry.size() - skip;
        raw[kMaskAt + at / 8] = static_cast<unsigned char>(raw[kMaskAt + at / 8] | 1U << (at % 8));
    }
    putLe16(raw, kFreeSpaceAt, static_cast<std::uint32_t>(kEntrySpace - at));
}

std::vector<unsigned char> IndexTree::parentEntry(const IndexPage& child) const {
    const Bytes last = ordered(child.entries.back(), child.leaf);
    std::vector<unsigned char> entry(last.begin(), last.end());
    entry.resize(entry.size() + kChildPointer);
    putBe(entry, entry.size() - kChildPointer, kChildPointer, child.number);
    return entry;
}

std::uint32_t IndexTree::newPage() {
    const std::uint32_t number = m_allocate();
    if (const std::uint32_t map = m_definition.realIndexes()[m_index].usedMap; map != 0) {
        UsageMap(m_file, map, "the page map of an index of table CD", m_allocate).set(number, true);
    }
    return number;
}

void IndexTree::store(std::vector<Step>& path, std::size_t level) {
    IndexPage& page = path[level].page;
    if (fits(page)) {
        write(page);
        if (level > 0 && path[level - 1].slot >= 0) {
            // The parent names this page by its last entry, which may have changed.
            Step& parent = path[level - 1];
            std::vector<unsigned char>& named =
                parent.page.entries.at(static_cast<std::size_t>(parent.slot));
            std::vector<unsigned char> now = parentEntry(page);
            if (named != now) {
                named = std::move(now);
                store(path, level - 1);
            }
        }
        return;
    }
    if (page.entries.size() < 2) {
        damaged("has an entry too large for a page");
    }
    // The lower entries move to a new page on the left; this page keeps its
    // number, so whatever names it stays true. An entry added at the end
    // leaves the full page behind whole, as the engine's own appends do.
    IndexPage lower;
    lower.number = newPage();
    lower.leaf = page.leaf;
    std::size_t keep = page.entries.size() / 2;
    if (m_appendedAtEnd) {
        keep = page.entries.size() - 1;
    }
    lower.entries.assign(page.entries.begin(),
                         page.entries.begin() + static_cast<std::ptrdiff_t>(keep));
    page.entries.erase(page.entries.begin(),
                       page.entries.begin() + static_cast<std::ptrdiff_t>(keep));
    if (!fits(lower) || !fits(page)) {
        damaged("has entries too large to split");
    }
    lower.prev = page.prev;
    lower.next = page.number;
    if (page.prev != 0) {
        Page& before = m_file.change(page.prev, "an index of table CD");
        putLe32(before, kNextAt, lower.number);
    }
    page.prev = lower.number;
    write(lower);
    write(page);
    if (level == 0) {
        // A new root above the two halves; this page stays the right edge.
        IndexPage root;
        root.number = newPage();
        root.leaf = false;
        root.entries.push_back(parentEntry(lower));
        root.tail = page.number;
        write(root);
        m_definition.setIndexRoot(m_file, m_index, root.number);
        return;
    }
    Step& parent = path[level - 1];
    const std::size_t at =
        parent.slot >= 0 ? static_cast<std::size_t>(parent.slot) : parent.page.entries.size();
    parent.page.entries.insert(parent.page.entries.begin() + static_cast<std::ptrdiff_t>(at),
                               parentEntry(lower));
    if (parent.slot >= 0) {
        parent.slot = static_cast<long>(at + 1);
        parent.page.entries[at + 1] = parentEntry(page);
    }
    store(path, level - 1);
}

std::optional<std::vector<unsigned char>> IndexTree::lastKey() {
    std::set<std::uint32_t> seen;
    std::uint32_t number = m_definition.realIndexes()[m_index].firstPage;
    while (true) {
        if (!seen.insert(number).second || seen.size() > kMaxDepth + kMaxDepth) {
            damaged("returns to page " + std::to_string(number));
        }
        const IndexPage page = read(number);
        if (page.leaf) {
            if (!page.entries.empty()) {
                const auto& last = page.entries.back();
                return std::vector<unsigned char>(last.begin(), last.end() - kRowPointer);
            }
            if (page.prev == 0) {
                return std::nullopt;
            }
            number = page.prev;
        } else if (page.tail != 0) {
            number = page.tail;
        } else if (!page.entries.empty()) {
            const auto& last = page.entries.back();
            number = getBe(last, last.size() - kChildPointer, kChildPointer);
        } else {
            damaged("has an empty node page " + std::to_string(number));
        }
    }
}

std::vector<IndexTree::Step> IndexTree::descend(const std::vector<unsigned char>& entry,
                                                std::set<std::uint32_t>& seen) {
    std::vector<Step> path;
    std::uint32_t number = m_definition.realIndexes()[m_index].firstPage;
    while (true) {
        if (!seen.insert(number).second || path.size() > kMaxDepth) {
            damaged("returns to page " + std::to_string(number));
        }
        Step step{read(number), -1};
        if (step.page.leaf) {
            path.push_back(std::move(step));
            break;
        }
        const auto& entries = step.page.entries;
        const auto found = std::find_if(entries.begin(), entries.end(), [&](const auto& e) {
            return !less(ordered(e, false), Bytes(entry));
        });
        if (found != entries.end()) {
            step.slot = found - entries.begin();
            number = getBe(*found, found->size() - kChildPointer, kChildPointer);
        } else if (step.page.tail != 0) {
            number = step.page.tail;
        } else if (!entries.empty()) {
            step.slot = static_cast<long>(entries.size() - 1);
            number = getBe(entries.back(), entries.back().size() - kChildPointer, kChildPointer);
        } else {
            damaged("has an empty node page " + std::to_string(number));
        }
        path.push_back(std::move(step));
    }
    return path;
}

bool IndexTree::contains(const std::vector<unsigned char>& key) {
    // Row pointer 0 sorts before every entry of the key.
    std::vector<unsigned char> probe = key;
    probe.resize(key.size() + kRowPointer, 0);
    std::set<std::uint32_t> seen;
    const IndexPage leaf = descend(probe, seen).back().page;
    const auto found = std::find_if(leaf.entries.begin(), leaf.entries.end(),
                                    [&](const auto& e) { return !less(Bytes(e), Bytes(probe)); });
    if (found != leaf.entries.end()) {
        return sameKey(*found, true, key);
    }
    if (leaf.next == 0 || seen.count(leaf.next) != 0) {
        return false;
    }
    const IndexPage next = read(leaf.next);
    return !next.entries.empty() && sameKey(next.entries.front(), true, key);
}

IndexTree::Placement IndexTree::insert(const std::vector<unsigned char>& key,
                                       std::uint32_t dataPage, unsigned row) {
    std::vector<unsigned char> entry = key;
    entry.resize(key.size() + kRowPointer);
    putBe(entry, key.size(), 3, dataPage);
    entry.back() = static_cast<unsigned char>(row);

    std::set<std::uint32_t> seen;
    std::vector<Step> path = descend(entry, seen);

    IndexPage& leaf = path.back().page;
    const auto place = std::find_if(leaf.entries.begin(), leaf.entries.end(),
                                    [&](const auto& e) { return !less(Bytes(e), Bytes(entry)); });
    if (place != leaf.entries.end() && *place == entry) {
        damaged("already has an entry for the new row");
    }
    const std::size_t at = static_cast<std::size_t>(place - leaf.entries.begin());
    // Equal keys sort together: the neighbours tell whether the key exists,
    // looking across to the next leaf at either end.
    Placement placement;
    const auto neighbour = [&](std::uint32_t page, bool last) {
        if (page == 0 || seen.count(page) != 0) {
            return false;
        }
        const IndexPage other = read(page);
        return !other.entries.empty() &&
               sameKey(last ? other.entries.back() : other.entries.front(), true, key);
    };
    placement.keyExists =
        (at > 0 ? sameKey(leaf.entries[at - 1], true, key) : neighbour(leaf.prev, true)) ||
        (at < leaf.entries.size() ? sameKey(leaf.entries[at], true, key)
                                  : neighbour(leaf.next, false));
    m_appendedAtEnd = at == leaf.entries.size() && leaf.next == 0;
    leaf.entries.insert(leaf.entries.begin() + static_cast<std::ptrdiff_t>(at), std::move(entry));
    store(path, path.size() - 1);
    return placement;
}

} // namespace velmora::jet
