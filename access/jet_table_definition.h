#pragma once

#include "access/jet_format.h"
#include "access/jet_pages.h"

#include <cstdint>
#include <string>
#include <vector>

// The one model of a table definition (its pages, counts, columns, indexes
// and long-value maps), built by one bounded walk for the reader and the
// writer alike.
namespace velmora::jet {

// Column types as the table definition numbers them.
enum JetType : unsigned char {
    kBoolean = 0x01,
    kByte = 0x02,
    kInteger = 0x03,
    kLong = 0x04,
    kCurrency = 0x05,
    kSingle = 0x06,
    kDouble = 0x07,
    kDateTime = 0x08,
    kBinary = 0x09,
    kText = 0x0A,
    kOle = 0x0B,
    kMemo = 0x0C,
    kGuid = 0x0F,
    kNumeric = 0x10,
};

struct ColumnDefinition {
    std::string name;                     // UTF-8 (a Jet 3 name: empty, see nameBytes)
    std::vector<unsigned char> nameBytes; // as stored: code page (Jet 3) or UTF-16LE (Jet 4)
    unsigned type = 0;
    unsigned number = 0;   // its bit in a row's null mask
    unsigned varIndex = 0; // its place in a row's table of variable offsets
    unsigned flags = 0;
    unsigned miscFlags = 0;
    unsigned fixedOffset = 0;
    unsigned length = 0;           // bytes; text: two per character
    unsigned decimalPrecision = 0; // a decimal's digits in all
    unsigned decimalScale = 0;     // ... and after the point
    unsigned sortOrder = 0;        // Jet 4 text and memo: the sort order's id (1033 "General")
    unsigned sortVersion = 0;      // ... and its version

    bool fixed() const { return (flags & 0x01) != 0; }
    bool autonumber() const { return (flags & 0x04) != 0; }
    bool autoGuid() const { return (flags & 0x40) != 0; }
    bool compressible() const { return (miscFlags & 0x01) != 0; }
};

struct IndexColumn {
    unsigned column = 0; // the column's number
    bool ascending = true;
};

// A physical index: a B-tree of index pages.
struct RealIndex {
    std::vector<IndexColumn> columns;
    std::uint32_t usedPagesMap = 0; // the row of the map of its pages
    std::uint32_t root = 0;
    unsigned flags = 0;
    std::size_t entryAt = 0;        // where its entry lies in TableDefinition::bytes
    std::size_t distinctKeysAt = 0; // where its count of distinct keys lies

    bool unique() const { return (flags & 0x01) != 0; }
    bool ignoresNulls() const { return (flags & 0x02) != 0; }
    bool required() const { return (flags & 0x08) != 0; }
};

// An index as the user sees it; several may share one real index.
struct LogicalIndex {
    std::string name;
    unsigned realIndex = 0;
    unsigned kind = 0;                       // 1 primary key, 2 foreign key
    unsigned relatedTableType = 0;           // of a relationship: 1 this table is the "one" side
    std::uint32_t relatedIndex = 0xFFFFFFFF; // the related table's logical index
    std::uint32_t relatedTablePage = 0;

    bool foreignKey() const {
        return kind == 2 || relatedIndex != 0xFFFFFFFF || relatedTablePage != 0;
    }
    // This table on the "many" side: a new row needs its related record.
    bool needsRelatedRecord() const { return foreignKey() && relatedTableType != 1; }
};

struct LongValueMaps {
    unsigned column = 0; // the column's number
    std::uint32_t usedPagesMap = 0;
    std::uint32_t freeSpaceMap = 0;
};

struct TableDefinition {
    std::uint32_t page = 0;           // its first page: how rows and index pages name their table
    std::vector<std::uint32_t> pages; // the chain, in order
    // The first page whole, then each continuation past its header: offsets
    // of the format's DefinitionLayout index this.
    std::vector<unsigned char> bytes;
    std::uint32_t rowCount = 0;
    std::uint32_t lastAutonumber = 0; // files Access wrote record the last given, not the next
    unsigned maxColumns = 0;
    unsigned variableColumns = 0;   // slots of a row's variable offsets (at least every column's)
    std::uint32_t usedPagesMap = 0; // page << 8 | row
    std::uint32_t freeSpaceMap = 0;
    std::vector<ColumnDefinition> columns;
    // Read by readIndexDefinitions.
    std::vector<RealIndex> realIndexes;
    std::vector<LogicalIndex> logicalIndexes;
    std::vector<LongValueMaps> longValueMaps;
    std::size_t columnNamesEnd = 0; // where the index entries start

    // Where byte `at` of `bytes` lies: the page and the offset on it.
    std::pair<std::uint32_t, std::size_t> locate(const JetFormat& format, std::size_t at) const;
};

// Reads the table definition at `page` and its continuation pages (each a
// definition page, in one walk), its counts, column entries and names; throws
// JetError ("the definition of <what> is damaged: ...") when the counts claim
// more than its pages hold. What the reader needs; the writer reads on.
TableDefinition readTableDefinition(const JetFormat& format, std::uint32_t pageCount,
                                    std::uint32_t page, const PageSource& source,
                                    const std::string& what);

// Reads what follows the column names: the real and logical indexes and the
// long-value maps, and checks what a writer relies on (counts and column
// numbers in range, every logical index on a real one). JetError as above.
void readIndexDefinitions(const JetFormat& format, TableDefinition& definition,
                          const std::string& what);

} // namespace velmora::jet
