#pragma once

#include "access/jet_page_file.h"

#include <cstdint>
#include <string>
#include <vector>

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
    std::string name; // UTF-8
    unsigned type = 0;
    unsigned number = 0;   // its bit in a row's null mask
    unsigned varIndex = 0; // its place in a row's table of variable offsets
    unsigned flags = 0;
    unsigned miscFlags = 0;
    unsigned fixedOffset = 0;
    unsigned length = 0;    // bytes; text: two per character
    unsigned precision = 0; // a decimal's digits in all
    unsigned scale = 0;     // ... and after the point

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
    std::uint32_t usedMap = 0;   // the map of its pages
    std::uint32_t firstPage = 0; // its root
    unsigned flags = 0;
    std::size_t definitionAt = 0; // where its definition lies in the table definition
    std::size_t countAt = 0;      // where its count of distinct keys lies

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
    std::uint32_t used = 0;
    std::uint32_t free = 0;
};

// A Jet 4 table definition (TDEF) as the writer needs it: its columns, real
// and logical indexes and long-value maps, read from its chain of pages (the
// reader's bounded walk); the counts an insert changes are written back in
// place.
class WritableTable {
public:
    WritableTable(PageFile& file, std::uint32_t page);

    std::uint32_t page() const { return m_page; }
    std::uint32_t rowCount() const { return m_rowCount; }
    // The last autonumber given (files Access wrote record it, not the next).
    std::uint32_t lastAutonumber() const { return m_lastAutonumber; }
    unsigned maxColumns() const { return m_maxColumns; }
    // The entries of a row's table of variable offsets.
    unsigned varColumns() const { return m_varColumns; }
    std::uint32_t usedMap() const { return m_usedMap; }
    std::uint32_t freeMap() const { return m_freeMap; }
    const std::vector<ColumnDefinition>& columns() const { return m_columns; }
    const std::vector<RealIndex>& realIndexes() const { return m_realIndexes; }
    const std::vector<LogicalIndex>& logicalIndexes() const { return m_logicalIndexes; }
    const std::vector<LongValueMaps>& longValueMaps() const { return m_longValueMaps; }
    // The count of distinct keys the definition records for a real index.
    std::uint32_t distinctKeys(std::size_t realIndex) const;

    void setRowCount(PageFile& file, std::uint32_t rows);
    void setLastAutonumber(PageFile& file, std::uint32_t last);
    void setIndexRoot(PageFile& file, std::size_t realIndex, std::uint32_t page);
    void setDistinctKeys(PageFile& file, std::size_t realIndex, std::uint32_t keys);

private:
    void put32(PageFile& file, std::size_t at, std::uint32_t value);

    std::uint32_t m_page;
    std::vector<std::uint32_t> m_chain; // the pages, in order
    std::vector<unsigned char> m_bytes; // first page whole, then each next page past its header
    std::uint32_t m_rowCount = 0;
    std::uint32_t m_lastAutonumber = 0;
    unsigned m_maxColumns = 0;
    unsigned m_varColumns = 0;
    std::uint32_t m_usedMap = 0;
    std::uint32_t m_freeMap = 0;
    std::vector<ColumnDefinition> m_columns;
    std::vector<RealIndex> m_realIndexes;
    std::vector<LogicalIndex> m_logicalIndexes;
    std::vector<LongValueMaps> m_longValueMaps;
};

} // namespace velmora::jet
