#include "access/jet_table_definition.h"

#include "access/jet_bytes.h"
#include "access/jet_values.h"

#include <algorithm>

namespace velmora::jet {
namespace {

constexpr unsigned char kDefinitionPage = 0x02;
constexpr std::size_t kIndexColumnSlots = 10;
constexpr std::size_t kIndexColumnSlotSize = 3;
constexpr unsigned kNoColumn = 0xFFFF;
// More than any definition the engine writes holds; a count past it is damage.
constexpr std::uint32_t kMostIndexes = 1000;

[[noreturn]] void damagedDefinition(const std::string& what, const std::string& reason) {
    throw JetError("the definition of " + what + " is damaged: " + reason);
}

std::string nameText(const JetFormat& format, Bytes bytes) {
    return format.text == JetText::Utf16 ? utf8FromJetText(bytes)
                                         : std::string(bytes.begin(), bytes.end());
}

// Reads the definition's bytes in order; a read past their end is damage.
class Cursor {
public:
    Cursor(const TableDefinition& definition, const std::string& what, std::size_t at)
        : m_definition(definition), m_what(what), m_at(at) {}
    std::size_t at() const { return m_at; }
    Bytes take(std::uint64_t size, const std::string& claim) {
        if (m_at + size > m_definition.bytes.size()) {
            const std::size_t pages = m_definition.pages.size();
            damagedDefinition(m_what, "it claims " + claim + " on " + std::to_string(pages) +
                                          (pages == 1 ? " page" : " pages"));
        }
        const Bytes out = Bytes(m_definition.bytes).subspan(m_at, size);
        m_at += size;
        return out;
    }
    Bytes name(const JetFormat& format, const std::string& claim) {
        const Bytes length = take(format.definition.nameLengthSize, claim);
        return take(length.size() == 1 ? length[0] : getLe16(length, 0), claim);
    }

private:
    const TableDefinition& m_definition;
    const std::string& m_what;
    std::size_t m_at;
};

} // namespace

std::pair<std::uint32_t, std::size_t> TableDefinition::locate(const JetFormat& format,
                                                              std::size_t at) const {
    if (at < format.pageSize) {
        return {pages.at(0), at};
    }
    const std::size_t perPage = format.pageSize - format.definition.continuationHeader;
    const std::size_t beyond = at - format.pageSize;
    return {pages.at(1 + beyond / perPage),
            format.definition.continuationHeader + beyond % perPage};
}

TableDefinition readTableDefinition(const JetFormat& format, std::uint32_t pageCount,
                                    std::uint32_t page, const PageSource& source,
                                    const std::string& what) {
    const DefinitionLayout& layout = format.definition;
    TableDefinition definition;
    definition.page = page;
    if (page == 0) {
        damagedDefinition(what, "it lies on page 0, the file's header");
    }
    std::vector<bool> met(pageCount, false);
    for (std::uint32_t next = page; next != 0;) {
        const std::string where = definition.pages.empty() ? "it lies on" : "it continues on";
        if (next >= pageCount) {
            damagedDefinition(what, where + " page " + std::to_string(next) + " of " +
                                        std::to_string(pageCount));
        }
        if (met[next]) {
            damagedDefinition(what, where + " page " + std::to_string(next) + " twice");
        }
        met[next] = true;
        const Bytes bytes = source(next);
        if (bytes[0] != kDefinitionPage) {
            damagedDefinition(what, where + " page " + std::to_string(next) +
                                        ", which is not a table definition");
        }
        definition.pages.push_back(next);
        const std::size_t from = definition.bytes.empty() ? 0 : layout.continuationHeader;
        definition.bytes.insert(definition.bytes.end(), bytes.begin() + static_cast<long>(from),
                                bytes.end());
        next = getLe32(bytes, layout.nextPage);
    }
    const Bytes all(definition.bytes);
    definition.rowCount = getLe32(all, layout.rowCount);
    definition.lastAutonumber = getLe32(all, layout.lastAutonumber);
    definition.maxColumns = getLe16(all, layout.maxColumns);
    definition.variableColumns = getLe16(all, layout.variableColumns);
    definition.usedPagesMap = getLe32(all, layout.usedPagesMap);
    definition.freeSpaceMap = getLe32(all, layout.freeSpaceMap);
    const std::size_t columns = getLe16(all, layout.columnCount);
    const std::uint64_t realIndexes = getLe32(all, layout.realIndexCount);
    // Every count is checked against the bytes before anything is read: a
    // definition claims no more than its pages hold.
    Cursor in(definition, what, layout.realIndexCounts);
    in.take(realIndexes * layout.realIndexCountSize, std::to_string(realIndexes) + " indexes");
    const bool wideNumbers = layout.nameLengthSize == 2; // Jet 4 numbers columns in 16 bits
    definition.columns.resize(columns);
    in.take(columns * layout.columnEntrySize, std::to_string(columns) + " columns");
    Cursor entries(definition, what,
                   layout.realIndexCounts + realIndexes * layout.realIndexCountSize);
    for (ColumnDefinition& column : definition.columns) {
        const Bytes entry = entries.take(layout.columnEntrySize, "");
        column.type = entry[layout.columnType];
        column.number =
            wideNumbers ? getLe16(entry, layout.columnNumber) : entry[layout.columnNumber];
        column.varIndex = getLe16(entry, layout.columnVarIndex);
        column.flags = entry[layout.columnFlags];
        column.miscFlags = layout.columnMiscFlags == kAbsent ? 0 : entry[layout.columnMiscFlags];
        column.fixedOffset = getLe16(entry, layout.columnFixedOffset);
        column.length = getLe16(entry, layout.columnLength);
        column.decimalPrecision = entry[layout.columnPrecision];
        column.decimalScale = entry[layout.columnScale];
        if (wideNumbers && (column.type == kText || column.type == kMemo)) {
            // Jet 4 keeps a text column's sort order at 11 and its version at 14.
            column.sortOrder = getLe16(entry, 11);
            column.sortVersion = entry[14];
        }
        if (!column.fixed() && column.type != kBoolean) {
            // A dropped variable column keeps its slot, so slots may reach
            // past the count of variable columns.
            definition.variableColumns = std::max(definition.variableColumns, column.varIndex + 1);
        }
    }
    for (ColumnDefinition& column : definition.columns) {
        const Bytes name = in.name(format, std::to_string(columns) + " column names");
        column.nameBytes.assign(name.begin(), name.end());
        if (format.text == JetText::Utf16) {
            column.name = utf8FromJetText(name);
        }
    }
    definition.columnNamesEnd = in.at();
    return definition;
}

void readIndexDefinitions(const JetFormat& format, TableDefinition& definition,
                          const std::string& what) {
    const DefinitionLayout& layout = format.definition;
    const Bytes all(definition.bytes);
    const std::uint32_t logicalCount = getLe32(all, layout.logicalIndexCount);
    const std::uint32_t realCount = getLe32(all, layout.realIndexCount);
    if (definition.columns.empty() || definition.columns.size() > definition.maxColumns ||
        logicalCount > kMostIndexes || realCount > kMostIndexes) {
        damagedDefinition(what, "it has impossible counts");
    }
    for (const ColumnDefinition& column : definition.columns) {
        if (column.number >= definition.maxColumns || column.varIndex >= definition.maxColumns) {
            damagedDefinition(what, "it has a column out of range");
        }
    }
    Cursor in(definition, what, definition.columnNamesEnd);
    const std::string indexes = std::to_string(realCount) + " indexes";
    for (std::uint32_t i = 0; i < realCount; ++i) {
        RealIndex index;
        index.entryAt = in.at();
        index.distinctKeysAt =
            layout.realIndexCounts + i * layout.realIndexCountSize + layout.distinctKeys;
        const Bytes entry = in.take(layout.realIndexEntrySize, indexes);
        for (std::size_t k = 0; k < kIndexColumnSlots; ++k) {
            const std::size_t slot = layout.realIndexColumns + kIndexColumnSlotSize * k;
            const std::uint32_t number = getLe16(entry, slot);
            if (number != kNoColumn) {
                index.columns.push_back({number, (entry[slot + 2] & 0x01) != 0});
            }
        }
        index.usedPagesMap = getLe32(entry, layout.realIndexUsedPages);
        index.root = getLe32(entry, layout.realIndexRoot);
        index.flags = entry[layout.realIndexFlags];
        definition.realIndexes.push_back(index);
    }
    const std::string logical = std::to_string(logicalCount) + " index names";
    for (std::uint32_t i = 0; i < logicalCount; ++i) {
        const Bytes entry = in.take(layout.logicalIndexEntrySize, logical);
        LogicalIndex index;
        index.realIndex = getLe32(entry, layout.logicalRealIndex);
        index.relatedTableType = entry[layout.logicalRelatedType];
        index.relatedIndex = getLe32(entry, layout.logicalRelatedIndex);
        index.relatedTablePage = getLe32(entry, layout.logicalRelatedTable);
        index.kind = entry[layout.logicalKind];
        if (index.realIndex >= realCount) {
            damagedDefinition(what, "it has an index without its tree");
        }
        definition.logicalIndexes.push_back(index);
    }
    for (LogicalIndex& index : definition.logicalIndexes) {
        index.name = nameText(format, in.name(format, logical));
    }
    // The long-value maps: per memo or OLE column its number and two maps, to
    // a column number of 0xFFFF.
    while (true) {
        const std::uint32_t column = getLe16(in.take(2, "long-value maps"), 0);
        if (column == kNoColumn) {
            break;
        }
        const Bytes maps = in.take(8, "long-value maps");
        definition.longValueMaps.push_back({column, getLe32(maps, 0), getLe32(maps, 4)});
    }
}

} // namespace velmora::jet
