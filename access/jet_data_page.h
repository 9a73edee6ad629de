#pragma once

#include "access/jet_page_file.h"

#include <cstdint>

// Jet 4 data pages (rows of a table, or long values on "LVAL" pages): a
// header, the row count at 12 and the rows' offsets from 14, the rows
// themselves stored from the end of the page downwards.
namespace velmora::jet {

inline constexpr unsigned char kDataPageType = 0x01;
inline constexpr std::size_t kRowCountAt = 12;
inline constexpr std::size_t kRowOffsetsAt = 14;
// A row's offset keeps its start in the low 13 bits; 0x8000 marks a deleted
// row, 0x4000 a row moved to another page.
inline constexpr unsigned kRowStartMask = 0x1FFF;
// Row numbers are one byte wherever a row is pointed to.
inline constexpr unsigned kMaxRowsPerPage = 256;
// The largest row a page can hold.
inline constexpr std::size_t kMaxRowSize = kJetPageSize - kRowOffsetsAt - 2;

struct RowPlace {
    bool valid = false;
    std::size_t start = 0;
    std::size_t end = 0;
};

// Where row `row` lies on a data page; not valid when the page does not have
// that row or its offsets do not make sense.
RowPlace rowPlace(const Page& page, unsigned row);

// The bytes free between the offsets and the lowest row; -1 when the page's
// offsets contradict each other.
long freeSpace(const Page& page);

// A data page owned by the table whose definition is on page `owner`
// (owner 0 with `longValues`: an "LVAL" page).
void initDataPage(Page& page, std::uint32_t owner, bool longValues = false);

// Appends a row; the caller has checked that freeSpace() >= size + 2 and that
// the page holds fewer than kMaxRowsPerPage rows. Returns its number.
unsigned addRow(Page& page, Bytes row);

// Whether this is a data page of the table defined on `owner`, or an LVAL page.
bool isDataPageOf(const Page& page, std::uint32_t owner);
bool isLongValuePage(const Page& page);

} // namespace velmora::jet
