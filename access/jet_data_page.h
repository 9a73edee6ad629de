#pragma once

#include "access/jet_bytes.h"
#include "access/jet_format.h"
#include "access/jet_pages.h"

#include <cstdint>

// Writing data pages (rows of a table, or long values on "LVAL" pages): a
// header, then the row slots (jet_pages.h holds their rule), the rows
// themselves stored from the end of the page down.
namespace velmora::jet {

// The largest row a page can hold.
inline std::size_t maxRowSize(const JetFormat& format) {
    return format.pageSize - format.data.rowOffsets - 2;
}

// The rows a data page holds.
inline unsigned rowCount(const JetFormat& format, Bytes page) {
    return getLe16(page, format.data.rowCount);
}

// The bytes free between the slots and the lowest row; -1 when the page's
// slots contradict each other.
long freeSpace(const JetFormat& format, Bytes page);

// Whether a row of `size` bytes fits on the page, with its slot.
bool hasRoomFor(const JetFormat& format, Bytes page, std::size_t size);

// A data page owned by the table whose definition is on page `owner`
// (owner 0 with `longValues`: an "LVAL" page).
void initDataPage(const JetFormat& format, MutableBytes page, std::uint32_t owner,
                  bool longValues = false);

// Appends a row; the caller has checked hasRoomFor(). Returns its number.
unsigned addRow(const JetFormat& format, MutableBytes page, Bytes row);

// Whether this is a data page of the table defined on `owner`, or an LVAL page.
bool isDataPageOf(const JetFormat& format, Bytes page, std::uint32_t owner);
bool isLongValuePage(const JetFormat& format, Bytes page);

} // namespace velmora::jet
