#include "access/jet_definition_fields.h"

namespace velmora::jet {
namespace {

void put32(PageFile& file, TableDefinition& definition, std::size_t at, std::uint32_t value) {
    putLe32(definition.bytes, at, value);
    for (std::size_t i = 0; i < 4; ++i) {
        const auto [page, within] = definition.locate(file.format(), at + i);
        file.change(page, "the definition of a table", WriteStage::Definition)[within] =
            definition.bytes[at + i];
    }
}

} // namespace

void setRowCount(PageFile& file, TableDefinition& definition, std::uint32_t rows) {
    put32(file, definition, file.format().definition.rowCount, rows);
    definition.rowCount = rows;
}

void setLastAutonumber(PageFile& file, TableDefinition& definition, std::uint32_t last) {
    put32(file, definition, file.format().definition.lastAutonumber, last);
    definition.lastAutonumber = last;
}

void setIndexRoot(PageFile& file, TableDefinition& definition, std::size_t realIndex,
                  std::uint32_t page) {
    RealIndex& index = definition.realIndexes.at(realIndex);
    put32(file, definition, index.entryAt + file.format().definition.realIndexRoot, page);
    index.root = page;
}

std::uint32_t distinctKeys(const TableDefinition& definition, std::size_t realIndex) {
    return getLe32(definition.bytes, definition.realIndexes.at(realIndex).distinctKeysAt);
}

void setDistinctKeys(PageFile& file, TableDefinition& definition, std::size_t realIndex,
                     std::uint32_t keys) {
    put32(file, definition, definition.realIndexes.at(realIndex).distinctKeysAt, keys);
}

} // namespace velmora::jet
