#include "access/jet_index_tree.h"

#include "access/jet_definition_fields.h"
#include "access/jet_usage_map.h"
#include "access/jet_write_error.h"

#include <algorithm>
#include <set>
#include <string>

namespace velmora::jet {
namespace {

constexpr unsigned char kNodePage = 0x03;
constexpr unsigned char kLeafPage = 0x04;
constexpr std::size_t kRowPointer = 4;   // page (3) and row (1)
constexpr std::size_t kChildPointer = 4; // a node entry's child page
constexpr std::size_t kMaxDepth = 16;

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

std::size_t entrySpace(const PageFile& file) {
    return file.format().pageSize - file.format().index.entries;
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

IndexTree::IndexTree(PageFile& file, TableDefinition& definition, std::size_t realIndex,
                     PageAllocator& allocator)
    : m_file(file), m_layout(file.format().index), m_definition(definition), m_index(realIndex),
      m_allocator(allocator) {}

void IndexTree::damaged(const std::string& why) const {
    throwDamaged(m_file.name(), "index " + std::to_string(m_index) +
                                    " of the table defined on page " +
                                    std::to_string(m_definition.page) + " " + why);
}

IndexTree::IndexPage IndexTree::read(std::uint32_t number) {
    const Bytes raw = m_file.bytes(number, "an index");
    IndexPage page;
    page.number = number;
    if ((raw[0] != kNodePage && raw[0] != kLeafPage) ||
        getLe32(raw, m_layout.owner) != m_definition.page) {
        damaged("points to page " + std::to_string(number) + ", which is not one of its pages");
    }
    page.leaf = raw[0] == kLeafPage;
    page.prev = getLe32(raw, m_layout.previous);
    page.next = getLe32(raw, m_layout.next);
    page.tail = getLe32(raw, m_layout.tail);
    const std::size_t prefix = getLe16(raw, m_layout.prefixLength);
    const std::size_t pointer = kRowPointer + (page.leaf ? 0 : kChildPointer);
    const std::size_t entriesAt = m_layout.entries;
    std::size_t start = 0;
    for (std::size_t bit = 1; bit <= entrySpace(m_file); ++bit) {
        if (((raw[m_layout.entryMask + bit / 8] >> (bit % 8)) & 1U) == 0) {
            continue;
        }
        std::vector<unsigned char> entry;
        if (!page.entries.empty()) {
            entry.assign(page.entries.front().begin(),
                         page.entries.front().begin() + static_cast<std::ptrdiff_t>(prefix));
        }
        entry.insert(entry.end(), raw.begin() + static_cast<std::ptrdiff_t>(entriesAt + start),
                     raw.begin() + static_cast<std::ptrdiff_t>(entriesAt + bit));
        if (entry.size() <= pointer || (page.entries.empty() && entry.size() < prefix)) {
            damaged("has a malformed entry on page " + std::to_string(number));
        }
        // Entries ascend on every page; in a unique index no key repeats.
        if (!page.entries.empty()) {
            const Bytes before = ordered(page.entries.back(), page.leaf);
            const Bytes now = ordered(entry, page.leaf);
            if (!less(before, now) &&
                !(!page.leaf && std::equal(before.begin(), before.end(), now.begin(), now.end()))) {
                damaged("has entries out of order on page " + std::to_string(number));
            }
            if (page.leaf && m_definition.realIndexes[m_index].unique() &&
                before.size() == now.size() &&
                std::equal(before.begin(), before.end() - kRowPointer, now.begin()) &&
                before[0] != 0x00) {
                damaged("holds a key twice on page " + std::to_string(number) +
                        ", though it is unique");
            }
        }
        page.entries.push_back(std::move(entry));
        start = bit;
    }
    return page;
}

bool IndexTree::fits(const IndexPage& page) const {
    return usedBytes(page.entries) <= entrySpace(m_file);
}

void IndexTree::write(const IndexPage& page) {
    const MutableBytes raw = m_file.changeBytes(page.number, "an index", WriteStage::Index);
    raw[0] = page.leaf ? kLeafPage : kNodePage;
    raw[1] = 0x01;
    putLe32(raw, m_layout.owner, m_definition.page);
    putLe32(raw, m_layout.previous, page.prev);
    putLe32(raw, m_layout.next, page.next);
    putLe32(raw, m_layout.tail, page.tail);
    std::fill(raw.begin() + static_cast<std::ptrdiff_t>(m_layout.entryMask), raw.end(), 0);
    const std::size_t prefix =
        page.entries.empty() ? 0 : sharedPrefix(page.entries.front(), page.entries.back());
    putLe16(raw, m_layout.prefixLength, static_cast<std::uint32_t>(prefix));
    const std::size_t entriesAt = m_layout.entries;
    std::size_t at = 0;
    for (std::size_t i = 0; i < page.entries.size(); ++i) {
        const std::vector<unsigned char>& entry = page.entries[i];
        const std::size_t skip = i == 0 ? 0 : prefix;
        std::copy(entry.begin() + static_cast<std::ptrdiff_t>(skip), entry.end(),
                  raw.begin() + static_cast<std::ptrdiff_t>(entriesAt + at));
        at += entry.size() - skip;
        unsigned char& mask = raw[m_layout.entryMask + at / 8];
        mask = static_cast<unsigned char>(mask | 1U << (at % 8));
    }
    putLe16(raw, m_layout.freeSpace, static_cast<std::uint32_t>(entrySpace(m_file) - at));
}

std::vector<unsigned char> IndexTree::parentEntry(const IndexPage& child) const {
    const Bytes last = ordered(child.entries.back(), child.leaf);
    std::vector<unsigned char> entry(last.begin(), last.end());
    entry.resize(entry.size() + kChildPointer);
    putBe(entry, entry.size() - kChildPointer, kChildPointer, child.number);
    return entry;
}

std::uint32_t IndexTree::newPage() {
    const std::uint32_t number = m_allocator.allocate();
    if (const std::uint32_t map = m_definition.realIndexes[m_index].usedPagesMap; map != 0) {
        UsageMap(m_file, map, "the page map of an index", [this] {
            return m_allocator.allocate();
        }).set(number, true);
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
        putLe32(m_file.changeBytes(page.prev, "an index", WriteStage::Index), m_layout.next,
                lower.number);
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
        setIndexRoot(m_file, m_definition, m_index, root.number);
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

void IndexTree::checkWithinParent(const Step& parent, const IndexPage& child) const {
    if (child.entries.empty()) {
        return;
    }
    const auto& entries = parent.page.entries;
    // The parent names a child by its last entry: the child holds nothing
    // above that entry, and nothing at or below the entry before it.
    const Bytes first = ordered(child.entries.front(), child.leaf);
    const Bytes last = ordered(child.entries.back(), child.leaf);
    const std::size_t upper =
        parent.slot >= 0 ? static_cast<std::size_t>(parent.slot) : entries.size();
    if (upper < entries.size() && less(ordered(entries[upper], false), last)) {
        damaged("has page " + std::to_string(child.number) + " holding keys above its place");
    }
    if (upper > 0 && upper <= entries.size() && !less(ordered(entries[upper - 1], false), first) &&
        !(!child.leaf &&
          std::equal(first.begin(), first.end(), ordered(entries[upper - 1], false).begin(),
                     ordered(entries[upper - 1], false).end()))) {
        damaged("has page " + std::to_string(child.number) + " holding keys below its place");
    }
}

std::optional<std::vector<unsigned char>> IndexTree::lastKey() {
    std::set<std::uint32_t> seen;
    std::uint32_t number = m_definition.realIndexes[m_index].root;
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

std::vector<std::vector<unsigned char>> IndexTree::entries() {
    std::set<std::uint32_t> seen;
    std::uint32_t number = m_definition.realIndexes[m_index].root;
    std::vector<std::vector<unsigned char>> all;
    while (number != 0) {
        if (!seen.insert(number).second) {
            damaged("returns to page " + std::to_string(number));
        }
        IndexPage page = read(number);
        if (page.leaf) {
            for (auto& entry : page.entries) {
                all.push_back(std::move(entry));
            }
            number = page.next;
        } else if (!page.entries.empty()) {
            const auto& first = page.entries.front();
            number = getBe(first, first.size() - kChildPointer, kChildPointer);
        } else {
            number = page.tail;
        }
    }
    return all;
}

std::vector<IndexTree::Step> IndexTree::descend(const std::vector<unsigned char>& entry,
                                                std::set<std::uint32_t>& seen) {
    std::vector<Step> path;
    std::uint32_t number = m_definition.realIndexes[m_index].root;
    while (true) {
        if (!seen.insert(number).second || path.size() > kMaxDepth) {
            damaged("returns to page " + std::to_string(number));
        }
        Step step{read(number), -1};
        if (!path.empty()) {
            checkWithinParent(path.back(), step.page);
        }
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
    // The leaves on either side: linked back to this one, and in order with it.
    std::optional<IndexPage> before;
    std::optional<IndexPage> after;
    if (leaf.prev != 0) {
        before = read(leaf.prev);
        if (!before->leaf || before->next != leaf.number || before->number == leaf.number ||
            (!before->entries.empty() && !leaf.entries.empty() &&
             !less(Bytes(before->entries.back()), Bytes(leaf.entries.front())))) {
            damaged("has a broken chain of leaves at page " + std::to_string(leaf.number));
        }
    }
    if (leaf.next != 0) {
        after = read(leaf.next);
        if (!after->leaf || after->prev != leaf.number || after->number == leaf.number ||
            (!after->entries.empty() && !leaf.entries.empty() &&
             !less(Bytes(leaf.entries.back()), Bytes(after->entries.front())))) {
            damaged("has a broken chain of leaves at page " + std::to_string(leaf.number));
        }
    }
    const auto neighbour = [&](const std::optional<IndexPage>& other, bool last) {
        return other && !other->entries.empty() &&
               sameKey(last ? other->entries.back() : other->entries.front(), true, key);
    };
    placement.keyExists =
        (at > 0 ? sameKey(leaf.entries[at - 1], true, key) : neighbour(before, true)) ||
        (at < leaf.entries.size() ? sameKey(leaf.entries[at], true, key) : neighbour(after, false));
    m_appendedAtEnd = at == leaf.entries.size() && leaf.next == 0;
    leaf.entries.insert(leaf.entries.begin() + static_cast<std::ptrdiff_t>(at), std::move(entry));
    store(path, path.size() - 1);
    return placement;
}

} // namespace velmora::jet
