#pragma once

#include "access/jet_error.h"
#include "access/jet_format.h"

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

// The row-slot rule of a data page: row n's slot (16 bits at rowOffsets +
// 2n) holds where the row starts in its low 13 bits; rows are stored from the
// end of the page down, so a row ends where the one before it starts. Flag
// 0x8000 marks a row that a scan skips: a deleted row, or the copy of a row
// that moved, which is read through the pointer left in its old slot; 0x4000
// marks such a pointer (the row's new row number, 1 byte, and page, 3).
struct RowSpan {
    std::size_t start = 0;
    std::size_t length = 0;
    unsigned flags = 0;
};
inline constexpr unsigned kDeletedRow = 0x8000;
inline constexpr unsigned kOverflowRow = 0x4000;
inline constexpr unsigned kRowStartMask = 0x1FFF;
// Row numbers are one byte wherever a row is pointed to.
inline constexpr unsigned kMaxRowsPerPage = 256;

// Where row `row` of a data page lies; nothing when the page does not hold it
// or its slots do not make sense.
std::optional<RowSpan> rowSpan(const JetFormat& format, std::span<const unsigned char> page,
                               unsigned row);

// The bytes of the row `pageRow` (page << 8 | row) names; throws JetError
// (`what`, "cannot be found") when the page or row is not there.
std::span<const unsigned char> rowAt(const JetFormat& format, std::uint32_t pageCount,
                                     std::uint32_t pageRow, const PageSource& source,
                                     const std::string& what);

// Calls `onRow` with the bytes and slot of every live row of data page `page`
// when it belongs to the table defined on `owner` (a page of another table or
// kind is passed over): deleted rows are skipped, a row that moved is read
// where its pointer says, one step only. A slot that does not make sense is
// damage ("row 3 of page 7 in <what> ...").
void forEachLiveRow(const JetFormat& format, std::uint32_t pageCount, std::uint32_t owner,
                    std::uint32_t page, const PageSource& source, const std::string& what,
                    const std::function<void(std::span<const unsigned char>, unsigned)>& onRow);

// The pages a usage map (the row itself: its kind, then its bits) names, in
// ascending order, each once; nothing for a kind of map this reader does not
// know (every page of the file is then a candidate). A map of pages (kind 1)
// reads its bitmap pages in one walk. A named page outside the file is damage.
std::optional<std::vector<std::uint32_t>>
usageMapPages(const JetFormat& format, std::uint32_t pageCount, std::span<const unsigned char> map,
              const PageSource& source, const std::string& what);

// The bytes of a memo or OLE field, whose 12-byte header says how long it is
// and where it lies: in the row itself, in one row of a long-value page, or in
// a chain of rows, each starting with a pointer to the next. A length longer
// than the file could hold, a chain that meets a row twice, or one that ends
// before the length: JetError. So a value never takes more memory than its
// real bytes.
std::string readLongValue(const JetFormat& format, std::uint32_t pageCount,
                          std::span<const unsigned char> field, const PageSource& source,
                          const std::string& what);

} // namespace velmora::jet
