#pragma once

#include "access/access_format.h"

#include <cstddef>

// Where everything lies in the pages of one Jet version: one description per
// version, used by the reader and the writer alike, so that a second version
// is a second value of this type and not a second walk or writer. Offsets are
// from the start of the page (or of the entry they belong to); a field the
// version does not have is kAbsent.
namespace velmora::jet {

inline constexpr std::size_t kAbsent = static_cast<std::size_t>(-1);

// How a version stores text and names.
enum class JetText {
    CodePage, // one byte per character in the database's code page (Jet 3)
    Utf16,    // UTF-16LE, or the compressed form that marks itself (Jet 4)
};

// Page 0: the database header. Past maskedAt, maskedSize bytes are masked
// with RC4 under a key every file of the version shares.
struct HeaderLayout {
    std::size_t maskedAt;
    std::size_t maskedSize;
    std::size_t databaseKey; // 32 bits; nonzero: the pages are encrypted
};

// A table definition: its first page, then continuation pages, each holding
// the next page's number and, past its own header, more of the definition.
struct DefinitionLayout {
    std::size_t nextPage;           // any page of the chain: the next one (0: none)
    std::size_t continuationHeader; // a continuation page's bytes start here
    std::size_t rowCount;           // 32 bits: the rows the table holds
    std::size_t lastAutonumber;     // 32 bits: the last autonumber given
    std::size_t maxColumns;         // 16 bits: columns ever numbered (a row's null mask)
    std::size_t variableColumns;    // 16 bits
    std::size_t columnCount;        // 16 bits
    std::size_t logicalIndexCount;  // 32 bits
    std::size_t realIndexCount;     // 32 bits
    std::size_t usedPagesMap;       // 32 bits: the row of the map of the table's pages
    std::size_t freeSpaceMap;       // 32 bits: ... of the map of its pages with room
    std::size_t realIndexCounts;    // a block per real index, then the column entries
    std::size_t realIndexCountSize; // one such block
    std::size_t distinctKeys;       // in a block: 32 bits, the real index's distinct keys
    // One column entry.
    std::size_t columnEntrySize;
    std::size_t columnType;        // 8 bits
    std::size_t columnNumber;      // 16 bits in Jet 4, 8 in Jet 3: its bit in the null mask
    std::size_t columnVarIndex;    // 16 bits: its slot in a row's variable offsets
    std::size_t columnFlags;       // 8 bits
    std::size_t columnMiscFlags;   // 8 bits
    std::size_t columnFixedOffset; // 16 bits: where a fixed column lies in a row
    std::size_t columnLength;      // 16 bits: its size in bytes
    std::size_t columnPrecision;   // 8 bits: a decimal's digits in all
    std::size_t columnScale;       // 8 bits: ... and after the point
    std::size_t nameLengthSize;    // the length before each name: 1 or 2 bytes
    // One real (physical) index entry, after the column names.
    std::size_t realIndexEntrySize;
    std::size_t realIndexColumns;   // 10 slots of column number (16 bits) and order (8)
    std::size_t realIndexUsedPages; // 32 bits: the row of the map of its pages
    std::size_t realIndexRoot;      // 32 bits
    std::size_t realIndexFlags;     // 8 bits
    // One logical index entry (what the user sees; several may share a real one).
    std::size_t logicalIndexEntrySize;
    std::size_t logicalRealIndex;    // 32 bits
    std::size_t logicalRelatedType;  // 8 bits: of a relationship, 1 this table is the "one" side
    std::size_t logicalRelatedIndex; // 32 bits
    std::size_t logicalRelatedTable; // 32 bits
    std::size_t logicalKind;         // 8 bits: 1 primary key, 2 foreign key
};

// A data page: a table's rows or long values, stored from the end of the page
// down, their offsets from rowOffsets up.
struct DataPageLayout {
    std::size_t freeSpace; // 16 bits
    std::size_t owner;     // 32 bits: the table's definition page, or "LVAL"
    std::size_t rowCount;  // 16 bits
    std::size_t rowOffsets;
};

// An index page: a node (0x03) or a leaf (0x04) of a real index's B-tree.
struct IndexPageLayout {
    std::size_t freeSpace;    // 16 bits
    std::size_t owner;        // 32 bits: the table's definition page
    std::size_t previous;     // 32 bits: the leaf before, on leaves
    std::size_t next;         // 32 bits
    std::size_t tail;         // 32 bits: a node's rightmost child, when not an entry
    std::size_t prefixLength; // 16 bits: what every entry shares with the first
    std::size_t entryMask;    // a bit per byte of entry space: where an entry ends
    std::size_t entries;      // the entry space, to the end of the page
};

// A new row: its column count and each variable offset take this many bytes.
struct RowLayout {
    std::size_t columnCountSize;
    std::size_t variableOffsetSize;
};

struct JetFormat {
    AccessFormat version;
    std::size_t pageSize;
    JetText text;
    HeaderLayout header;
    DefinitionLayout definition;
    DataPageLayout data;
    IndexPageLayout index;
    RowLayout row;
};

inline constexpr JetFormat kJet3Format{
    AccessFormat::Jet3,
    2048,
    JetText::CodePage,
    {0x18, 126, 0x3E},
    {4,  8,       12, 16, 21, 23, 25, 27, 31, 35, 39, 43, 8,  0, 18, 0, 1,  3,
     13, kAbsent, 14, 16, 9,  10, 1,  39, 0,  30, 34, 38, 20, 4, 8,  9, 13, 19},
    {2, 4, 8, 10},
    {2, 4, 8, 12, 16, 20, 22, 248},
    {1, 1},
};

inline constexpr JetFormat kJet4Format{
    AccessFormat::Jet4,
    4096,
    JetText::Utf16,
    {0x18, 128, 0x3E},
    {4,  8,  16, 20, 41, 43, 45, 47, 51, 55, 59, 63, 12, 4, 25, 0,  5,  7,
     15, 16, 21, 23, 11, 12, 2,  52, 4,  34, 38, 46, 28, 8, 12, 13, 17, 23},
    {2, 4, 12, 14},
    {2, 4, 12, 16, 20, 24, 27, 0x1E0},
    {2, 2},
};

// The description of a Jet 3 or Jet 4 file (any other format: Jet 4's, which
// the callers refuse before they read a page).
inline const JetFormat& jetFormat(AccessFormat format) {
    return format == AccessFormat::Jet3 ? kJet3Format : kJet4Format;
}

} // namespace velmora::jet
