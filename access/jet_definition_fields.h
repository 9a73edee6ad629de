#pragma once

#include "access/jet_page_file.h"
#include "access/jet_table_definition.h"

#include <cstdint>

// The fields of a table definition an insert changes, written in the model
// and on the definition's pages (written last: invariant 2 of jet_writer.h).
namespace velmora::jet {

void setRowCount(PageFile& file, TableDefinition& definition, std::uint32_t rows);
void setLastAutonumber(PageFile& file, TableDefinition& definition, std::uint32_t last);
void setIndexRoot(PageFile& file, TableDefinition& definition, std::size_t realIndex,
                  std::uint32_t page);
// The count of distinct keys the definition records for a real index.
std::uint32_t distinctKeys(const TableDefinition& definition, std::size_t realIndex);
void setDistinctKeys(PageFile& file, TableDefinition& definition, std::size_t realIndex,
                     std::uint32_t keys);

} // namespace velmora::jet
