#include "access/jet_writable_table.h"

#include "access/jet_pages.h"
#include "access/jet_values.h"
#include "access/jet_write_error.h"

#include <algorithm>

namespace velmora::jet {
namespace {

constexpr std::size_t kContinuationAt = 8; // a next page's bytes start here
constexpr std::size_t kRowCountAt = 16;
constexpr std::size_t kAutonumberAt = 20;
// From 41: column counts (max, variable, all; 2 bytes each), index counts
// (logical, real; 4 each), the two page maps; from 63 a 12-byte block per
// real index (its count of distinct keys at 4), then the columns.
constexpr std::size_t kMaxColumnsAt = 41;
constexpr std::size_t kRealCountSize = 12;
constexpr std::size_t kColumnSize = 25;
constexpr std::size_t kRealIndexSize = 52;
constexpr std::size_t kLogicalIndexSize = 28;
constexpr std::size_t kIndexColumns = 10;
constexpr unsigned kNoColumn = 0xFFFF;

[[noreturn]] void damaged(const std::string& why) {
    throw JetWriteError(JetWriteError::Kind::Damaged, kJetDamaged,
                        "Velmora2.db is damaged: the definition of table CD " + why);
}

class Reader {
public:
    explicit Reader(const std::vector<unsigned char>& bytes) : m_bytes(bytes) {}
    std::size_t at() const { return m_at; }
    void need(std::size_t size) const {
        if (m_at + size > m_bytes.size()) {
            damaged("ends too early");
        }
    }
    Bytes take(std::size_t size) {
        need(size);
        const Bytes out = Bytes(m_bytes).subspan(m_at, size);
        m_at += size;
        return out;
    }
    std::uint32_t u16() { return getLe16(take(2), 0); }
    std::uint32_t u32() { return getLe32(take(4), 0); }
    std::string name() {
        const std::uint32_t size = u16();
        return utf8FromJetText(take(size));
    }

private:
    const std::vector<unsigned char>& m_bytes;
    std::size_t m_at = 0;
};

} // namespace

WritableTable::WritableTable(PageFile& file, std::uint32_t page) : m_page(page) {
    // The walk over the definition's pages is the reader's, bounded the same way.
    try {
        CheckedDefinition walked = readTableDefinition(
            kJet4Layout, file.pageCount(), page,
            [&file](std::uint32_t number) {
                return std::span<const unsigned char>(
                    file.page(number, "the definition of table CD"));
            },
            "table CD");
        m_chain = std::move(walked.pages);
        m_bytes = std::move(walked.bytes);
    } catch (const JetError& error) {
        throw JetWriteError(JetWriteError::Kind::Damaged, kJetDamaged,
                            std::string("Velmora2.db is damaged: ") + error.what());
    }
    Reader in(m_bytes);
    in.take(kRowCountAt);
    m_rowCount = in.u32();
    m_lastAutonumber = in.u32();
    in.take(kMaxColumnsAt - in.at());
    m_maxColumns = in.u16();
    m_varColumns = in.u16();
    const std::uint32_t columnCount = in.u16();
    const std::uint32_t logicalCount = in.u32();
    const std::uint32_t realCount = in.u32();
    m_usedMap = in.u32();
    m_freeMap = in.u32();
    if (columnCount == 0 || columnCount > m_maxColumns || logicalCount > 1000 || realCount > 1000) {
        damaged("has impossible counts");
    }
    std::vector<std::size_t> countsAt;
    for (std::uint32_t i = 0; i < realCount; ++i) {
        countsAt.push_back(in.at() + 4);
        in.take(kRealCountSize);
    }
    for (std::uint32_t i = 0; i < columnCount; ++i) {
        const Bytes entry = in.take(kColumnSize);
        ColumnDefinition column;
        column.type = entry[0];
        column.number = getLe16(entry, 5);
        column.varIndex = getLe16(entry, 7);
        column.flags = entry[15];
        column.miscFlags = entry[16];
        column.fixedOffset = getLe16(entry, 21);
        column.length = getLe16(entry, 23);
        column.precision = entry[11];
        column.scale = entry[12];
        // A dropped variable column keeps its place in the offsets table, so
        // places may reach past the count of variable columns.
        if (column.number >= m_maxColumns || column.varIndex >= m_maxColumns) {
            damaged("has a column out of range");
        }
        if (!column.fixed() && column.type != kBoolean) {
            m_varColumns = std::max(m_varColumns, column.varIndex + 1);
        }
        m_columns.push_back(column);
    }
    for (ColumnDefinition& column : m_columns) {
        column.name = in.name();
    }
    for (std::uint32_t i = 0; i < realCount; ++i) {
        const std::size_t definitionAt = in.at();
        const Bytes entry = in.take(kRealIndexSize);
        RealIndex index;
        for (std::size_t k = 0; k < kIndexColumns; ++k) {
            const std::uint32_t number = getLe16(entry, 4 + 3 * k);
            if (number != kNoColumn) {
                index.columns.push_back({number, (entry[6 + 3 * k] & 0x01) != 0});
            }
        }
        index.usedMap = getLe32(entry, 34);
        index.firstPage = getLe32(entry, 38);
        index.flags = entry[46];
        index.definitionAt = definitionAt;
        index.countAt = countsAt[i];
        m_realIndexes.push_back(index);
    }
    for (std::uint32_t i = 0; i < logicalCount; ++i) {
        const Bytes entry = in.take(kLogicalIndexSize);
        LogicalIndex index;
        index.realIndex = getLe32(entry, 8);
        index.relatedTableType = entry[12];
        index.relatedIndex = getLe32(entry, 13);
        index.relatedTablePage = getLe32(entry, 17);
        index.kind = entry[23];
        if (index.realIndex >= realCount) {
            damaged("has an index without its tree");
        }
        m_logicalIndexes.push_back(index);
    }
    for (LogicalIndex& index : m_logicalIndexes) {
        index.name = in.name();
    }
    while (true) {
        const std::uint32_t column = in.u16();
        if (column == kNoColumn) {
            break;
        }
        LongValueMaps maps;
        maps.column = column;
        maps.used = in.u32();
        maps.free = in.u32();
        m_longValueMaps.push_back(maps);
    }
}

std::uint32_t WritableTable::distinctKeys(std::size_t realIndex) const {
    return getLe32(m_bytes, m_realIndexes.at(realIndex).countAt);
}

void WritableTable::put32(PageFile& file, std::size_t at, std::uint32_t value) {
    putLe32(m_bytes, at, value);
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t offset = at + i;
        std::size_t segment = 0;
        std::size_t within = offset;
        if (offset >= kJetPageSize) {
            segment = 1 + (offset - kJetPageSize) / (kJetPageSize - kContinuationAt);
            within = kContinuationAt + (offset - kJetPageSize) % (kJetPageSize - kContinuationAt);
        }
        Page& page = file.change(m_chain.at(segment), "the definition of table CD");
        page[within] = m_bytes[offset];
    }
}

void WritableTable::setRowCount(PageFile& file, std::uint32_t rows) {
    put32(file, kRowCountAt, rows);
    m_rowCount = rows;
}

void WritableTable::setLastAutonumber(PageFile& file, std::uint32_t last) {
    put32(file, kAutonumberAt, last);
    m_lastAutonumber = last;
}

void WritableTable::setIndexRoot(PageFile& file, std::size_t realIndex, std::uint32_t page) {
    put32(file, m_realIndexes.at(realIndex).definitionAt + 38, page);
    m_realIndexes[realIndex].firstPage = page;
}

void WritableTable::setDistinctKeys(PageFile& file, std::size_t realIndex, std::uint32_t keys) {
    put32(file, m_realIndexes.at(realIndex).countAt, keys);
}

} // namespace velmora::jet
