#pragma once

#include "access/access_format.h"
#include "access/jet_error.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

// Bounded walks over the pages of a Jet 3 or Jet 4 file, for its reader and
// its writer alike. Every walk is bounded by what the file can hold: a page
// outside the file, a page met twice in one walk (or a row, in a long-value
// chain), or a structure that claims more than its pages hold throws JetError
// with a one-line reason. Nothing here depends on libmdb: pages come from the
// caller through a PageSource.
namespace velmora::jet {

// Where the structures these walks read lie, for one Jet version.
struct PageLayout {
    std::size_t pageSize;
    std::size_t rowCountOffset;       // data page: the row count, then the row offsets
    std::size_t columnCountOffset;    // table definition: the number of columns (16 bits)
    std::size_t realIndexCountOffset; // ... the number of real indexes (32 bits)
    std::size_t usageMapOffset;       // ... where its usage map lies (page << 8 | row)
    std::size_t freeMapOffset;        // ... and its free-space map
    std::size_t columnsOffset;        // ... where the real-index entries, then columns, start
    std::size_t realIndexEntrySize;   // one real-index entry
    std::size_t columnEntrySize;      // one column entry
    std::size_t columnNumberOffset;   // in a column entry: its number (8 bits)
    std::size_t decimalScaleOffset;   // ... a decimal's scale (8 bits)
    std::size_t nameLengthSize;       // a column name's length: 1 byte (Jet 3) or 2 (Jet 4)
};

inline constexpr PageLayout kJet3Layout{2048, 8, 25, 31, 35, 39, 43, 8, 18, 1, 10, 1};
inline constexpr PageLayout kJet4Layout{4096, 12, 45, 51, 55, 59, 63, 12, 25, 5, 12, 2};

// The layout of a Jet 3 or Jet 4 file (any other format: Jet 4's).
const PageLayout& pageLayout(AccessFormat format);

// Reads one whole page of the file (1 <= page < page count, checked by the
// walks before); the bytes stay valid until the next call.
using PageSource = std::function<std::span<const unsigned char>(std::uint32_t page)>;

// The pages met in one walk. `what` names the walk in messages ("the page map
// of table CD").
class PageWalk {
public:
    PageWalk(std::uint32_t pageCount, std::string what);
    // Counts `page` as met; throws JetError when it lies outside the file
    // (page 0, the header, is never part of a walk) or was met before.
    void enter(std::uint32_t page);
    std::uint32_t pageCount() const { return m_pageCount; }

private:
    std::uint32_t m_pageCount;
    std::string m_what;
    std::vector<bool> m_met;
};

// A row of a data page: where it lies and its flags (0x8000 deleted or moved,
// 0x4000 an overflow pointer).
struct RowSpan {
    std::size_t start = 0;
    std::size_t length = 0;
    unsigned flags = 0;
};
inline constexpr unsigned kDeletedRow = 0x8000;
inline constexpr unsigned kOverflowRow = 0x4000;

// Where row `row` of a data page lies; nothing when the page does not hold it
// (rows are stored from the end backwards: a row ends where the one before
// it starts).
std::optional<RowSpan> rowSpan(const PageLayout& layout, std::span<const unsigned char> page,
                               unsigned row);

// The bytes of the row `pageRow` (page << 8 | row) names; throws JetError
// (`what`, "cannot be found") when the page or row is not there.
std::span<const unsigned char> rowAt(const PageLayout& layout, std::uint32_t pageCount,
                                     std::uint32_t pageRow, const PageSource& source,
                                     const std::string& what);

// The pages a usage map (the row itself: its kind, then its bits) names, in
// ascending order, each once; nothing for a kind of map this reader does not
// know (every page of the file is then a candidate). A map of pages (kind 1)
// reads its bitmap pages in one walk. A named page outside the file is damage.
std::optional<std::vector<std::uint32_t>>
usageMapPages(const PageLayout& layout, std::uint32_t pageCount, std::span<const unsigned char> map,
              const PageSource& source, const std::string& what);

// One column as the table definition holds it: its entry and its name's bytes.
struct DefinedColumn {
    std::vector<unsigned char> entry; // layout.columnEntrySize bytes
    std::vector<unsigned char> name;  // as stored: code page (Jet 3) or UTF-16LE (Jet 4)
    unsigned type = 0;                // the Jet type number
    unsigned number = 0;              // the column's number, by which rows order it
    unsigned decimalScale = 0;        // digits after the point, for a decimal column
};
struct CheckedDefinition {
    std::vector<unsigned char>
        bytes; // the first page whole, then each continuation past its header
    std::vector<std::uint32_t> pages; // the definition's pages, in order
    std::vector<DefinedColumn> columns;
    std::uint32_t usageMap = 0; // page << 8 | row
    std::uint32_t freeMap = 0;
};

// Reads the table definition at `page` and its continuation pages (each a
// definition page, in one walk) and the column entries and names it claims;
// throws JetError ("the definition of <what> is damaged: ...") when they do not
// fit in the pages.
CheckedDefinition readTableDefinition(const PageLayout& layout, std::uint32_t pageCount,
                                      std::uint32_t page, const PageSource& source,
                                      const std::string& what);

// The bytes of a memo or OLE field, whose 12-byte header says how long it is
// and where it lies: in the row itself, in one row of a long-value page, or in
// a chain of rows, each starting with a pointer to the next. A length longer
// than the file could hold, a chain that meets a row twice, or one that ends
// before the length: JetError. So a value never takes more memory than its
// real bytes.
std::string readLongValue(const PageLayout& layout, std::uint32_t pageCount,
                          std::span<const unsigned char> field, const PageSource& source,
                          const std::string& what);

} // namespace velmora::jet
