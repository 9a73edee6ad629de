#pragma once

#include "access/jet_catalogue_schema.h"
#include "access/jet_page_file.h"
#include "access/jet_writer.h"

#include <ctime>
#include <string_view>

namespace velmora::jet {

// Adds `row` to the table `table` in the pages of `file`, in memory only: the
// new row on a data page with room (or a new page), its long values, an
// entry in every index, the row count and the autonumber. Every refusal is
// thrown from here, so a refused row leaves the file untouched. `now` gives
// Date() and Now() defaults.
JetInsertResult insertIntoPages(PageFile& file, std::string_view table,
                                const CatalogueSchema& schema, const CatalogueRow& row,
                                std::time_t now);

} // namespace velmora::jet
