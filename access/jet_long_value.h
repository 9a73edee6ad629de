#pragma once

#include "access/jet_page_allocator.h"
#include "access/jet_page_file.h"
#include "access/jet_table_definition.h"

#include <vector>

namespace velmora::jet {

// Stores a memo or OLE value of a new row and returns the field as the row
// holds it: a 12-byte header (length and kind, where the data lies) with a
// short value right behind it, a longer one in a row of an LVAL page of the
// column, and one longer than a page as a chain of LVAL pages of its own.
// The column's page maps in the table definition are kept true.
std::vector<unsigned char> storeLongValue(PageFile& file, PageAllocator& allocator,
                                          const TableDefinition& definition,
                                          const ColumnDefinition& column, Bytes data);

} // namespace velmora::jet
