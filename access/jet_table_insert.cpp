#include "access/jet_table_insert.h"

#include "access/jet_data_page.h"
#include "access/jet_default_value.h"
#include "access/jet_index_key.h"
#include "access/jet_index_tree.h"
#include "access/jet_long_value.h"
#include "access/jet_row_encoding.h"
#include "access/jet_usage_map.h"
#include "access/jet_values.h"
#include "access/jet_writable_table.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>
#include <string>

namespace velmora::jet {
namespace {

// The file's map of free pages: page 1, row 0.
constexpr std::uint32_t kFreePagesMap = 1U << 8;
// Pages of the table's map of pages with room looked at before a new one.
constexpr std::size_t kCandidates = 4;
// A memo is stored compressed only up to this many characters.
constexpr std::size_t kCompressibleMemo = 1024;

[[noreturn]] void unsupported(const std::string& what) {
    throw JetWriteError(JetWriteError::Kind::Unsupported, kJetCannotWriteInPlace,
                        "Table CD of Velmora2.db " + what +
                            ", which the add cannot keep exactly as Access would; convert the "
                            "catalogue with velmora2-init --convert");
}

[[noreturn]] void rejected(std::int32_t number, const std::string& why) {
    throw JetWriteError(JetWriteError::Kind::Rejected, number, why);
}

std::string typeName(unsigned type) {
    switch (type) {
    case kBoolean:
        return "Yes/No";
    case kText:
        return "text";
    case kMemo:
        return "memo";
    case kBinary:
        return "binary";
    case kOle:
        return "OLE object";
    case kGuid:
        return "replication ID";
    case kNumeric:
        return "decimal";
    default:
        return "type " + std::to_string(type);
    }
}

std::string codePoint(char16_t c) {
    std::array<char, 8> text{};
    std::snprintf(text.data(), text.size(), "U+%04X", static_cast<unsigned>(c));
    return text.data();
}

class Insertion {
public:
    Insertion(PageFile& file, const CatalogueSchema& schema, std::time_t now)
        : m_file(file), m_schema(schema), m_now(now), m_definition(file, schema.definitionPage) {}

    JetInsertResult run(const CatalogueRow& row) {
        checkStructure();
        const std::array<std::string_view, 3> given = {row.kategorija, row.program, row.opis};
        const std::array<const char*, 3> names = {"kategorija", "program", "opis"};
        const auto& columns = m_definition.columns();
        std::vector<FieldValue> values(columns.size());
        std::vector<std::optional<std::string_view>> givenText(columns.size());
        std::array<bool, 3> found{};
        JetInsertResult result;
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const ColumnDefinition& column = columns[i];
            const ColumnProperties properties = propertiesOf(column);
            const std::string folded = foldName(column.name);
            const auto named = std::find(names.begin(), names.end(), folded);
            if (named != names.end()) {
                const auto k = static_cast<std::size_t>(named - names.begin());
                found[k] = true;
                values[i] = namedValue(column, properties, given[k]);
                givenText[i] = given[k];
            } else if (column.autonumber()) {
                values[i] = FieldValue::of(autonumber(i, result));
            } else if (properties.defaultValue) {
                const std::optional<FieldValue> value =
                    evaluateDefault(column, *properties.defaultValue, m_now);
                if (!value) {
                    unsupported("has column " + column.name + " with the default value " +
                                *properties.defaultValue);
                }
                values[i] = *value;
            } else if (column.type == kBoolean) {
                values[i] = FieldValue::ofBoolean(false);
            }
            if (properties.required && column.type != kBoolean && values[i].null) {
                rejected(kJetRequiredIsNull, "Column " + column.name +
                                                 " of table CD is required, and the add gives "
                                                 "it no value");
            }
        }
        for (std::size_t k = 0; k < found.size(); ++k) {
            if (!found[k]) {
                throw JetWriteError(JetWriteError::Kind::Damaged, kJetNoSuchColumn,
                                    std::string("Table CD of Velmora2.db has no column ") +
                                        (k == 0   ? "Kategorija"
                                         : k == 1 ? "Program"
                                                  : "Opis"));
            }
        }
        // Index keys weigh the text itself, which a memo's value no longer
        // holds once stored: the given text, or a default's.
        std::vector<std::optional<std::string>> texts(columns.size());
        for (std::size_t i = 0; i < columns.size(); ++i) {
            if ((columns[i].type == kText || columns[i].type == kMemo) && !values[i].null) {
                texts[i] =
                    givenText[i] ? std::string(*givenText[i]) : utf8FromJetText(values[i].bytes);
            }
        }
        // Long values last among the values: every refusal above comes first.
        for (std::size_t i = 0; i < columns.size(); ++i) {
            if (columns[i].type == kMemo && !values[i].null) {
                values[i] = FieldValue::of(
                    storeLongValue(m_file, m_definition, columns[i], values[i].bytes, allocator()));
            }
        }
        const std::vector<unsigned char> bytes = encodeRow(m_definition, values);
        const auto [page, rowNumber] = placeRow(bytes);
        indexRow(values, texts, page, rowNumber);
        m_definition.setRowCount(m_file, m_definition.rowCount() + 1);
        result.rowCount = m_definition.rowCount();
        return result;
    }

private:
    ColumnProperties propertiesOf(const ColumnDefinition& column) const {
        const auto found = m_schema.columns.find(foldName(column.name));
        return found == m_schema.columns.end() ? ColumnProperties{} : found->second;
    }

    std::string indexName(std::size_t real) const {
        for (const LogicalIndex& index : m_definition.logicalIndexes()) {
            if (index.realIndex == real) {
                return index.name;
            }
        }
        return std::to_string(real);
    }

    const ColumnDefinition& columnNumbered(unsigned number) const {
        for (const ColumnDefinition& column : m_definition.columns()) {
            if (column.number == number) {
                return column;
            }
        }
        throw JetWriteError(JetWriteError::Kind::Damaged, kJetDamaged,
                            "Velmora2.db is damaged: an index of table CD names a column it "
                            "does not have");
    }

    // What the writer cannot do is refused before any value is looked at.
    void checkStructure() {
        if (m_schema.tableValidationRule) {
            unsupported("has a validation rule (" + *m_schema.tableValidationRule + ")");
        }
        for (const LogicalIndex& index : m_definition.logicalIndexes()) {
            if (index.foreignKey()) {
                unsupported("takes part in an enforced relationship (index " + index.name + ")");
            }
        }
        for (std::size_t i = 0; i < m_definition.realIndexes().size(); ++i) {
            for (const IndexColumn& part : m_definition.realIndexes()[i].columns) {
                const ColumnDefinition& column = columnNumbered(part.column);
                if (!keyEncodable(column.type)) {
                    unsupported("has the index " + indexName(i) + " on the " +
                                typeName(column.type) + " column " + column.name);
                }
                if ((column.type == kText || column.type == kMemo) && !textKeyEncodable(column)) {
                    unsupported("has the index " + indexName(i) + " on the " +
                                typeName(column.type) + " column " + column.name +
                                ", whose keys follow the sort order " + sortOrderName(column));
                }
            }
        }
        for (const ColumnDefinition& column : m_definition.columns()) {
            if (const ColumnProperties properties = propertiesOf(column);
                properties.validationRule) {
                unsupported("has a validation rule on column " + column.name + " (" +
                            *properties.validationRule + ")");
            }
            if (column.autoGuid()) {
                unsupported("has column " + column.name + ", a replication ID the engine fills");
            }
            if (column.autonumber() && column.type != kLong) {
                unsupported("has the autonumber column " + column.name + " of " +
                            typeName(column.type));
            }
        }
    }

    FieldValue namedValue(const ColumnDefinition& column, const ColumnProperties& properties,
                          std::string_view utf8) const {
        if (column.type != kText && column.type != kMemo) {
            unsupported("has column " + column.name + " of " + typeName(column.type) +
                        " where the add writes text");
        }
        const std::u16string text = utf16FromUtf8(utf8);
        if (text.empty() && !properties.allowZeroLength) {
            rejected(kJetZeroLengthString, "Column " + column.name +
                                               " of table CD cannot be an empty text (its "
                                               "AllowZeroLength property is No)");
        }
        if (column.type == kText && text.size() * 2 > column.length) {
            rejected(kJetFieldTooSmall, "The value for column " + column.name +
                                            " of table CD is longer than its field size of " +
                                            std::to_string(column.length / 2) + " characters");
        }
        const bool compress =
            column.compressible() && (column.type == kText || text.size() <= kCompressibleMemo);
        return FieldValue::of(jetText(text, compress));
    }

    // The autonumber continues after the last one the definition records
    // (the engine never gives a number twice, even when its row was
    // deleted) and after any an index of the column holds.
    std::vector<unsigned char> autonumber(std::size_t columnIndex, JetInsertResult& result) {
        const ColumnDefinition& column = m_definition.columns()[columnIndex];
        std::int64_t value = std::int64_t{m_definition.lastAutonumber()} + 1;
        for (std::size_t i = 0; i < m_definition.realIndexes().size(); ++i) {
            const RealIndex& index = m_definition.realIndexes()[i];
            if (index.columns.size() != 1 || index.columns[0].column != column.number ||
                !index.columns[0].ascending) {
                continue;
            }
            const auto last = IndexTree(m_file, m_definition, i, allocator()).lastKey();
            if (last && last->size() == 5 && (*last)[0] == 0x7F) {
                const auto largest = static_cast<std::int32_t>(getBe(*last, 1, 4) ^ 0x80000000U);
                value = std::max<std::int64_t>(value, std::int64_t{largest} + 1);
            }
        }
        if (value >= std::numeric_limits<std::int32_t>::max()) {
            rejected(3161, "The autonumber column " + column.name + " of table CD is full");
        }
        m_definition.setLastAutonumber(m_file, static_cast<std::uint32_t>(value));
        result.autonumber = static_cast<std::int32_t>(value);
        std::vector<unsigned char> bytes(4);
        putLe32(bytes, 0, static_cast<std::uint32_t>(value));
        return bytes;
    }

    std::function<std::uint32_t()> allocator() {
        return [this] {
            const std::uint32_t number = m_file.append();
            UsageMap freePages(m_file, kFreePagesMap, "the file's map of free pages");
            if (freePages.contains(number)) {
                freePages.set(number, false);
            }
            return number;
        };
    }

    std::pair<std::uint32_t, unsigned> placeRow(const std::vector<unsigned char>& bytes) {
        UsageMap used(m_file, m_definition.usedMap(), "the page map of table CD", allocator());
        UsageMap room(m_file, m_definition.freeMap(), "the map of table CD's pages with room",
                      allocator());
        std::vector<std::uint32_t> candidates = room.pages(m_file.pageCount());
        std::reverse(candidates.begin(), candidates.end());
        if (candidates.size() > kCandidates) {
            candidates.resize(kCandidates);
        }
        std::uint32_t target = 0;
        for (const std::uint32_t number : candidates) {
            const Page& page = m_file.page(number, "the map of table CD's pages with room");
            if (used.contains(number) && isDataPageOf(page, m_definition.page()) &&
                freeSpace(page) >= static_cast<long>(bytes.size() + 2) &&
                getLe16(page, kRowCountAt) < kMaxRowsPerPage) {
                target = number;
                break;
            }
        }
        if (target == 0) {
            target = allocator()();
            initDataPage(m_file.change(target, "a new data page"), m_definition.page());
            used.set(target, true);
        }
        Page& page = m_file.change(target, "a data page of table CD");
        const unsigned rowNumber = addRow(page, bytes);
        room.set(target, freeSpace(page) >= static_cast<long>(bytes.size() + 2) &&
                             getLe16(page, kRowCountAt) < kMaxRowsPerPage);
        return {target, rowNumber};
    }

    void indexRow(const std::vector<FieldValue>& values,
                  const std::vector<std::optional<std::string>>& texts, std::uint32_t page,
                  unsigned row) {
        const auto& columns = m_definition.columns();
        for (std::size_t i = 0; i < m_definition.realIndexes().size(); ++i) {
            const RealIndex index = m_definition.realIndexes()[i];
            std::vector<unsigned char> key;
            bool anyNull = false;
            bool allNull = true;
            std::string nullColumn;
            std::string names;
            for (const IndexColumn& part : index.columns) {
                const ColumnDefinition& column = columnNumbered(part.column);
                const auto at = static_cast<std::size_t>(&column - columns.data());
                const FieldValue& value = values[at];
                anyNull = anyNull || value.null;
                allNull = allNull && value.null;
                if (value.null && nullColumn.empty()) {
                    nullColumn = column.name;
                }
                names += (names.empty() ? "" : ", ") + column.name;
                if (column.type == kText || column.type == kMemo) {
                    std::optional<std::u16string> text;
                    if (texts[at]) {
                        names += " \"" + *texts[at] + "\"";
                        text = utf16FromUtf8(*texts[at]);
                    }
                    if (const auto unknown = appendTextKeyColumn(key, text, part.ascending)) {
                        unsupported("has the index " + indexName(i) + " on column " + column.name +
                                    ", and the sort order's weight of " + codePoint(*unknown) +
                                    " in the new value is not known");
                    }
                } else {
                    appendKeyColumn(key, column.type, value, part.ascending);
                }
            }
            if (index.required() && anyNull) {
                rejected(kJetRequiredIsNull, "Column " + nullColumn +
                                                 " of table CD is in the "
                                                 "index " +
                                                 indexName(i) + ", which needs a value");
            }
            if (index.ignoresNulls() && allNull) {
                continue;
            }
            const IndexTree::Placement placement =
                IndexTree(m_file, m_definition, i, allocator()).insert(key, page, row);
            if (placement.keyExists && index.unique() && !anyNull) {
                rejected(kJetDuplicateKey, "The new row repeats a value of the unique index " +
                                               indexName(i) + " of table CD (" + names + ")");
            }
            if (!placement.keyExists) {
                m_definition.setDistinctKeys(m_file, i, m_definition.distinctKeys(i) + 1);
            }
        }
    }

    PageFile& m_file;
    const CatalogueSchema& m_schema;
    std::time_t m_now;
    WritableTable m_definition;
};

} // namespace

JetInsertResult insertIntoPages(PageFile& file, const CatalogueSchema& schema,
                                const CatalogueRow& row, std::time_t now) {
    return Insertion(file, schema, now).run(row);
}

} // namespace velmora::jet
