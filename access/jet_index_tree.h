#pragma once

#include "access/jet_page_allocator.h"
#include "access/jet_page_file.h"
#include "access/jet_table_definition.h"

#include <cstdint>
#include <optional>
#include <set>
#include <vector>

namespace velmora::jet {

// One real index of a table as a B-tree of index pages, and the insertion of
// one entry into it. Leaf pages (0x04) hold an entry per row: the key, then
// the row's page (3 bytes) and number (1 byte), big-endian. Node pages (0x03)
// hold, for each child page, the child's last entry followed by the child's
// number (4 bytes, big-endian); the rightmost child of a node on the tree's
// right edge may instead be its "tail", named in the page header and not by
// an entry. Entries after the first on a page leave out the prefix that all
// of them share with the first. Before it changes anything the insert checks
// what it relies on along the path it descends: entries in order on every
// page, each child within the bounds its parent gives it, the leaves'
// chain linked both ways, and no key twice in a unique index; anything else
// is damage.
class IndexTree {
public:
    IndexTree(PageFile& file, TableDefinition& definition, std::size_t realIndex,
              PageAllocator& allocator);

    struct Placement {
        bool keyExists = false; // an entry with an equal key is already there
    };
    // Puts the entry for `key` and the row at (dataPage, row) in its place,
    // splitting pages that overflow (and growing a new root). Reports
    // whether the key was there already (so unique indexes refuse it before
    // anything is written: this changes only pages in memory).
    Placement insert(const std::vector<unsigned char>& key, std::uint32_t dataPage, unsigned row);

    // Whether an entry has this key (the engine's look-up of a related
    // record). Changes nothing.
    bool contains(const std::vector<unsigned char>& key);

    // The key of the index's last entry (its largest), without the row
    // pointer; nothing for an empty index.
    std::optional<std::vector<unsigned char>> lastKey();

    // Every entry of the index in its order, each its key and then its row
    // pointer, as the chain of leaf pages holds them.
    std::vector<std::vector<unsigned char>> entries();

private:
    struct IndexPage {
        std::uint32_t number = 0;
        bool leaf = true;
        std::uint32_t prev = 0;
        std::uint32_t next = 0;
        std::uint32_t tail = 0;
        std::vector<std::vector<unsigned char>> entries; // whole, prefix restored
    };
    struct Step {
        IndexPage page;
        long slot = -1; // the entry followed into the child; -1: the tail
    };

    IndexPage read(std::uint32_t number);
    // The pages from the root down to the leaf where `entry` belongs.
    std::vector<Step> descend(const std::vector<unsigned char>& entry,
                              std::set<std::uint32_t>& seen);
    void checkWithinParent(const Step& parent, const IndexPage& child) const;
    [[noreturn]] void damaged(const std::string& why) const;
    // Writes the page, splitting it when it does not fit; keeps the parent
    // (path[level - 1]) right.
    void store(std::vector<Step>& path, std::size_t level);
    bool fits(const IndexPage& page) const;
    void write(const IndexPage& page);
    std::vector<unsigned char> parentEntry(const IndexPage& child) const;
    std::uint32_t newPage();

    PageFile& m_file;
    const IndexPageLayout& m_layout;
    TableDefinition& m_definition;
    std::size_t m_index;
    PageAllocator& m_allocator;
    // The entry goes after every other one: a full page then keeps only it.
    bool m_appendedAtEnd = false;
};

} // namespace velmora::jet
