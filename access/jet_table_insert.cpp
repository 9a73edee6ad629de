#include "access/jet_table_insert.h"

#include "access/jet_data_page.h"
#include "access/jet_default_value.h"
#include "access/jet_definition_fields.h"
#include "access/jet_index_key.h"
#include "access/jet_index_tree.h"
#include "access/jet_long_value.h"
#include "access/jet_page_allocator.h"
#include "access/jet_row_encoding.h"
#include "access/jet_type_name.h"
#include "access/jet_usage_map.h"
#include "access/jet_validation_rule.h"
#include "access/jet_values.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>
#include <string>

namespace velmora::jet {
namespace {

// The engine counts a table's rows in a signed 32-bit number.
constexpr std::uint32_t kMostRows = 0x7FFFFFFF;
// Pages of the table's map of pages with room looked at before a new one.
constexpr std::size_t kCandidates = 4;
// A memo is stored compressed only up to this many characters.
constexpr std::size_t kCompressibleMemo = 1024;

[[noreturn]] void rejected(std::int32_t number, const std::string& why) {
    throw JetWriteError(JetWriteError::Kind::Rejected, number, why);
}

std::string codePoint(char16_t c) {
    std::array<char, 8> text{};
    std::snprintf(text.data(), text.size(), "U+%04X", static_cast<unsigned>(c));
    return text.data();
}

TableDefinition readDefinition(PageFile& file, std::string_view table, std::uint32_t page) {
    const std::string what = "table " + std::string(table);
    try {
        TableDefinition definition = readTableDefinition(
            file.format(), file.pageCount(), page,
            [&](std::uint32_t number) { return file.bytes(number, "the definition of " + what); },
            what);
        readIndexDefinitions(file.format(), definition, what);
        return definition;
    } catch (const JetError& error) {
        throwDamaged(file.name(), error);
    }
}

class Insertion {
public:
    Insertion(PageFile& file, std::string_view table, const CatalogueSchema& schema,
              std::time_t now)
        : m_file(file), m_format(file.format()), m_table(table), m_schema(schema), m_now(now),
          m_allocator(file), m_definition(readDefinition(file, table, schema.definitionPage)) {}

    JetInsertResult run(const CatalogueRow& row) {
        checkStructure();
        const std::array<std::string_view, 3> given = {row.kategorija, row.program, row.opis};
        const std::array<const char*, 3> names = {"kategorija", "program", "opis"};
        const auto& columns = m_definition.columns;
        std::vector<FieldValue> values(columns.size());
        std::vector<std::optional<std::string_view>> givenText(columns.size());
        // The row as the rules see it, column by column.
        m_seen.assign(columns.size(), ExpressionValue{});
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
                m_seen[i] = ExpressionValue::ofText(std::string(given[k]));
            } else if (column.autonumber()) {
                values[i] = FieldValue::of(autonumber(i, result));
                m_seen[i] = ExpressionValue::ofNumber(*result.autonumber);
            } else if (properties.defaultValue) {
                values[i] = defaultValue(column, *properties.defaultValue, m_seen[i]);
            } else if (column.type == kBoolean) {
                values[i] = FieldValue::ofBoolean(false);
                m_seen[i] = ExpressionValue::ofBoolean(false);
            }
            if (properties.required && column.type != kBoolean && values[i].null) {
                rejected(kJetRequiredIsNull, "The field '" + m_table + "." + column.name +
                                                 "' cannot contain a Null value because the "
                                                 "Required property for this field is set to "
                                                 "True. Enter a value in this field.");
            }
        }
        for (std::size_t k = 0; k < found.size(); ++k) {
            if (!found[k]) {
                throw JetWriteError(JetWriteError::Kind::Damaged, kJetNoSuchColumn,
                                    "Table " + m_table + " of " + m_file.name() +
                                        " has no column " +
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
        checkRules();
        checkRelatedRecords(values, texts);
        // Long values last among the values: every refusal above comes first.
        for (std::size_t i = 0; i < columns.size(); ++i) {
            if (columns[i].type == kMemo && !values[i].null) {
                values[i] = FieldValue::of(
                    storeLongValue(m_file, m_allocator, m_definition, columns[i], values[i].bytes));
            }
        }
        const std::vector<unsigned char> bytes = encodeRow(m_format, m_definition, values);
        const auto [page, rowNumber] = placeRow(bytes);
        indexRow(values, texts, page, rowNumber);
        setRowCount(m_file, m_definition, m_definition.rowCount + 1);
        result.rowCount = m_definition.rowCount;
        return result;
    }

private:
    ColumnProperties propertiesOf(const ColumnDefinition& column) const {
        const auto found = m_schema.columns.find(foldName(column.name));
        return found == m_schema.columns.end() ? ColumnProperties{} : found->second;
    }

    [[noreturn]] void unsupported(const std::string& what) const {
        throwUnsupported("Table " + m_table + " of " + m_file.name() + " " + what +
                         ", which the add cannot keep exactly as Access would; convert the "
                         "catalogue with velmora2-init --convert");
    }

    [[noreturn]] void damaged(const std::string& what) const {
        throwDamaged(m_file.name(), "table " + m_table + " " + what);
    }

    std::string indexName(std::size_t real) const {
        for (const LogicalIndex& index : m_definition.logicalIndexes) {
            if (index.realIndex == real) {
                return index.name;
            }
        }
        return std::to_string(real);
    }

    const ColumnDefinition& columnNumbered(unsigned number) const {
        for (const ColumnDefinition& column : m_definition.columns) {
            if (column.number == number) {
                return column;
            }
        }
        damaged("has an index on a column it does not have");
    }

    // What the writer cannot do is refused before any value is looked at.
    void checkStructure() {
        for (const LogicalIndex& index : m_definition.logicalIndexes) {
            if (index.needsRelatedRecord()) {
                m_relationships.push_back(relationshipOf(index));
            }
        }
        for (std::size_t i = 0; i < m_definition.realIndexes.size(); ++i) {
            for (const IndexColumn& part : m_definition.realIndexes[i].columns) {
                const ColumnDefinition& column = columnNumbered(part.column);
                if (!keyEncodable(column.type)) {
                    unsupported("has the index " + indexName(i) + " on the " +
                                jetTypeName(column.type) + " column " + column.name);
                }
                if ((column.type == kText || column.type == kMemo) && !textKeyEncodable(column)) {
                    unsupported("has the index " + indexName(i) + " on the " +
                                jetTypeName(column.type) + " column " + column.name +
                                ", whose keys follow the sort order " + sortOrderName(column));
                }
            }
        }
        // The engine refuses a row past its count of rows, and so does the add.
        if (m_definition.rowCount >= kMostRows) {
            damaged("records " + std::to_string(m_definition.rowCount) +
                    " rows, as many as a table can hold");
        }
        for (const ColumnDefinition& column : m_definition.columns) {
            if (const ColumnProperties properties = propertiesOf(column);
                properties.validationRule) {
                m_rules.push_back(
                    {compileRule(m_table + "." + column.name, *properties.validationRule,
                                 properties.validationText, true),
                     static_cast<std::size_t>(&column - m_definition.columns.data())});
            }
            if (column.autoGuid()) {
                unsupported("has column " + column.name + ", a replication ID the engine fills");
            }
            if (column.autonumber() && column.type != kLong) {
                unsupported("has the autonumber column " + column.name + " of " +
                            jetTypeName(column.type));
            }
        }
        // The table's rule after the columns' own, as the engine checks them.
        if (m_schema.tableValidationRule) {
            m_rules.push_back({compileRule(m_table, *m_schema.tableValidationRule,
                                           m_schema.tableValidationText, false),
                               std::nullopt});
        }
    }

    ValidationRule compileRule(const std::string& owner, const std::string& rule,
                               const std::optional<std::string>& text, bool fieldRule) const {
        try {
            ValidationRule compiled(owner, rule, text, fieldRule);
            for (const std::string& name : compiled.expression().columns()) {
                if (!columnNamed(name)) {
                    unsupported("has the validation rule " + rule + " on " + owner +
                                ", which names the column [" + name + "] it does not have");
                }
            }
            return compiled;
        } catch (const ExpressionError& error) {
            unsupported("has the validation rule " + rule + " on " + owner +
                        ", which the add cannot evaluate (" + error.what() + ")");
        }
    }

    std::optional<std::size_t> columnNamed(std::string_view name) const {
        const std::string folded = foldName(std::string(name));
        const auto& columns = m_definition.columns;
        for (std::size_t i = 0; i < columns.size(); ++i) {
            if (foldName(columns[i].name) == folded) {
                return i;
            }
        }
        return std::nullopt;
    }

    // Each column's rule on its own value, then the table's on the row. A
    // broken rule is the engine's refusal, in its words or the designer's.
    void checkRules() const {
        ExpressionContext context;
        context.now = m_now;
        context.column = [this](std::string_view name) -> std::optional<ExpressionValue> {
            if (const auto i = columnNamed(name)) {
                return m_seen[*i];
            }
            return std::nullopt;
        };
        for (const auto& [rule, column] : m_rules) {
            context.field = column ? &m_seen[*column] : nullptr;
            bool kept = false;
            try {
                kept = rule.keptBy(context);
            } catch (const ExpressionError& error) {
                unsupported("has the validation rule " + rule.rule() +
                            ", which the add cannot evaluate on this row (" + error.what() + ")");
            }
            if (!kept) {
                rejected(rule.refusalNumber(), rule.refusalText());
            }
        }
    }

    FieldValue defaultValue(const ColumnDefinition& column, const std::string& expression,
                            ExpressionValue& seen) const {
        const auto refuse = [&](const std::string& why) {
            unsupported("has the " + jetTypeName(column.type) + " column " + column.name +
                        " with the default value " + expression + ", which " + why);
        };
        try {
            ExpressionContext context;
            context.now = m_now;
            seen = Expression::parse(defaultExpression(expression)).evaluate(context);
        } catch (const ExpressionError& error) {
            refuse(std::string("the add cannot evaluate (") + error.what() + ")");
        }
        const std::optional<FieldValue> value = storedValue(column, seen);
        if (!value) {
            refuse("does not fit the column");
        }
        return *value;
    }

    // The table on the "many" side of an enforced relationship: its index there,
    // the related table and that table's index the values must be found in.
    struct Relationship {
        std::size_t realIndex = 0;
        std::uint32_t relatedPage = 0;
        std::uint32_t relatedIndex = 0;
        std::string relatedName;
    };

    Relationship relationshipOf(const LogicalIndex& index) const {
        const auto named = m_schema.tableNames.find(index.relatedTablePage);
        if (named == m_schema.tableNames.end()) {
            damaged("has the relationship " + index.name +
                    ", which names a table it does not have");
        }
        return {index.realIndex, index.relatedTablePage, index.relatedIndex, named->second};
    }

    // As the engine does: a row whose key in the relationship holds a Null
    // needs no related record; any other is looked up in the related
    // table's index and refused when it is not there. A text key is weighed
    // in the related column's sort order, so "cddvd" finds "CDDVD".
    void checkRelatedRecords(const std::vector<FieldValue>& values,
                             const std::vector<std::optional<std::string>>& texts) {
        for (const Relationship& relationship : m_relationships) {
            const RealIndex& ours = m_definition.realIndexes.at(relationship.realIndex);
            TableDefinition related =
                readDefinition(m_file, relationship.relatedName, relationship.relatedPage);
            if (relationship.relatedIndex >= related.logicalIndexes.size()) {
                damaged("has a relationship naming an index table " + relationship.relatedName +
                        " does not have");
            }
            const std::size_t theirs = related.logicalIndexes[relationship.relatedIndex].realIndex;
            const RealIndex& target = related.realIndexes.at(theirs);
            if (target.columns.size() != ours.columns.size()) {
                unsupported("takes part in a relationship with table " + relationship.relatedName +
                            " whose keys do not match");
            }
            std::vector<unsigned char> key;
            std::string shown;
            bool anyNull = false;
            for (std::size_t k = 0; k < ours.columns.size(); ++k) {
                const ColumnDefinition& column = columnNumbered(ours.columns[k].column);
                const auto at = static_cast<std::size_t>(&column - m_definition.columns.data());
                const ColumnDefinition* other = nullptr;
                for (const ColumnDefinition& candidate : related.columns) {
                    if (candidate.number == target.columns[k].column) {
                        other = &candidate;
                    }
                }
                if (other == nullptr || other->type != column.type || !keyEncodable(column.type)) {
                    unsupported("has the relationship on column " + column.name + " with table " +
                                relationship.relatedName + ", whose key the add cannot look up");
                }
                anyNull = anyNull || values[at].null;
                if (column.type == kText || column.type == kMemo) {
                    if (!textKeyEncodable(*other)) {
                        unsupported("has the relationship on column " + column.name +
                                    " with table " + relationship.relatedName + ", whose keys " +
                                    "follow the sort order " + sortOrderName(*other));
                    }
                    std::optional<std::u16string> text;
                    if (texts[at]) {
                        text = utf16FromUtf8(*texts[at]);
                    }
                    if (const auto unknown =
                            appendTextKeyColumn(key, text, target.columns[k].ascending)) {
                        unsupported("has the relationship on column " + column.name +
                                    " with table " + relationship.relatedName +
                                    ", and the sort order's weight of " + codePoint(*unknown) +
                                    " in the new value is not known");
                    }
                } else {
                    appendKeyColumn(key, other->type, values[at], target.columns[k].ascending);
                }
                const std::string value = expressionText(m_seen[at]);
                shown += (shown.empty() ? "" : ", ") + (texts[at] ? "\"" + value + "\"" : value);
            }
            if (anyNull) {
                continue;
            }
            if (!IndexTree(m_file, related, theirs, m_allocator).contains(key)) {
                rejected(kJetRelatedRecordRequired,
                         "You cannot add or change a record because a related record is "
                         "required in table '" +
                             relationship.relatedName + "' (" + m_table + " holds " + shown +
                             ", which it does not have).");
            }
        }
    }

    FieldValue namedValue(const ColumnDefinition& column, const ColumnProperties& properties,
                          std::string_view utf8) const {
        if (column.type != kText && column.type != kMemo) {
            unsupported("has column " + column.name + " of " + jetTypeName(column.type) +
                        " where the add writes text");
        }
        const std::u16string text = utf16FromUtf8(utf8);
        if (text.empty() && !properties.allowZeroLength) {
            rejected(kJetZeroLengthString,
                     "Field '" + m_table + "." + column.name + "' cannot be a zero-length string.");
        }
        if (column.type == kText && text.size() * 2 > column.length) {
            rejected(kJetFieldTooSmall,
                     "The field is too small to accept the amount of data you attempted to "
                     "add (" +
                         m_table + "." + column.name + " holds " +
                         std::to_string(column.length / 2) + " characters).");
        }
        const bool compress =
            column.compressible() && (column.type == kText || text.size() <= kCompressibleMemo);
        return FieldValue::of(jetText(text, compress));
    }

    // The autonumber continues after the last one the definition records
    // (the engine never gives a number twice, even when its row was
    // deleted) and after any an index of the column holds.
    std::vector<unsigned char> autonumber(std::size_t columnIndex, JetInsertResult& result) {
        const ColumnDefinition& column = m_definition.columns[columnIndex];
        std::int64_t value = std::int64_t{m_definition.lastAutonumber} + 1;
        for (std::size_t i = 0; i < m_definition.realIndexes.size(); ++i) {
            const RealIndex& index = m_definition.realIndexes[i];
            if (index.columns.size() != 1 || index.columns[0].column != column.number ||
                !index.columns[0].ascending) {
                continue;
            }
            const auto last = IndexTree(m_file, m_definition, i, m_allocator).lastKey();
            if (last && last->size() == 5 && (*last)[0] == 0x7F) {
                const auto largest = static_cast<std::int32_t>(getBe(*last, 1, 4) ^ 0x80000000U);
                value = std::max<std::int64_t>(value, std::int64_t{largest} + 1);
            }
        }
        if (value >= std::numeric_limits<std::int32_t>::max()) {
            rejected(kJetAutonumberFull,
                     "The autonumber column " + column.name + " of table " + m_table + " is full");
        }
        setLastAutonumber(m_file, m_definition, static_cast<std::uint32_t>(value));
        result.autonumber = static_cast<std::int32_t>(value);
        std::vector<unsigned char> bytes(4);
        putLe32(bytes, 0, static_cast<std::uint32_t>(value));
        return bytes;
    }

    std::function<std::uint32_t()> allocate() {
        return [this] { return m_allocator.allocate(); };
    }

    // The row goes on one of the last pages with room (or a new page). The
    // pages looked at must not hold more live rows than the table records.
    std::pair<std::uint32_t, unsigned> placeRow(const std::vector<unsigned char>& bytes) {
        const std::string table = "table " + m_table;
        UsageMap used(m_file, m_definition.usedPagesMap, "the page map of " + table, allocate());
        UsageMap room(m_file, m_definition.freeSpaceMap,
                      "the map of " + table + "'s pages with room", allocate());
        std::vector<std::uint32_t> candidates = room.pages(m_file.pageCount());
        std::reverse(candidates.begin(), candidates.end());
        if (candidates.size() > kCandidates) {
            candidates.resize(kCandidates);
        }
        std::uint32_t target = 0;
        std::uint64_t liveRows = 0;
        const PageSource source = [&](std::uint32_t number) {
            return m_file.bytes(number, "a data page of " + table);
        };
        for (const std::uint32_t number : candidates) {
            const Bytes page = m_file.bytes(number, "the map of " + table + "'s pages with room");
            if (!used.contains(number) || !isDataPageOf(m_format, page, m_definition.page)) {
                continue;
            }
            try {
                forEachLiveRow(m_format, m_file.pageCount(), m_definition.page, number, source,
                               table, [&](Bytes, unsigned) { ++liveRows; });
            } catch (const JetError& error) {
                throwDamaged(m_file.name(), error);
            }
            if (target == 0 && hasRoomFor(m_format, page, bytes.size())) {
                target = number;
            }
        }
        if (liveRows > m_definition.rowCount) {
            damaged("records " + std::to_string(m_definition.rowCount) + " rows, but " +
                    std::to_string(liveRows) + " lie on the pages the add looked at");
        }
        if (target == 0) {
            target = m_allocator.allocate();
            initDataPage(m_format, m_file.changeBytes(target, "a new data page"),
                         m_definition.page);
            used.set(target, true);
        }
        const MutableBytes page = m_file.changeBytes(target, "a data page of " + table);
        const unsigned rowNumber = addRow(m_format, page, bytes);
        room.set(target, hasRoomFor(m_format, page, bytes.size()));
        return {target, rowNumber};
    }

    void indexRow(const std::vector<FieldValue>& values,
                  const std::vector<std::optional<std::string>>& texts, std::uint32_t page,
                  unsigned row) {
        const auto& columns = m_definition.columns;
        for (std::size_t i = 0; i < m_definition.realIndexes.size(); ++i) {
            const RealIndex index = m_definition.realIndexes[i];
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
                rejected(kJetRequiredIsNull, "Column " + nullColumn + " of table " + m_table +
                                                 " is in the index " + indexName(i) +
                                                 ", which needs a value");
            }
            if (index.ignoresNulls() && allNull) {
                continue;
            }
            const IndexTree::Placement placement =
                IndexTree(m_file, m_definition, i, m_allocator).insert(key, page, row);
            // A key with a Null in any of its columns repeats no other: the
            // engine takes Null as equal to nothing, so a unique (A, B) index
            // holds (Null, 5) any number of times (Access users meet this as
            // "duplicates with a Null pass a multi-field unique index").
            if (placement.keyExists && index.unique() && !anyNull) {
                rejected(kJetDuplicateKey,
                         "The changes you requested to the table were not successful because "
                         "they would create duplicate values in the index, primary key, or "
                         "relationship (index " +
                             indexName(i) + " of " + m_table + ": " + names + ").");
            }
            if (!placement.keyExists) {
                setDistinctKeys(m_file, m_definition, i, distinctKeys(m_definition, i) + 1);
            }
        }
    }

    PageFile& m_file;
    const JetFormat& m_format;
    std::string m_table;
    const CatalogueSchema& m_schema;
    std::time_t m_now;
    PageAllocator m_allocator;
    TableDefinition m_definition;
    struct CompiledRule {
        ValidationRule rule;
        std::optional<std::size_t> column; // a column's rule; none: the table's
    };
    std::vector<CompiledRule> m_rules;
    std::vector<Relationship> m_relationships;
    std::vector<ExpressionValue> m_seen;
};

} // namespace

JetInsertResult insertIntoPages(PageFile& file, std::string_view table,
                                const CatalogueSchema& schema, const CatalogueRow& row,
                                std::time_t now) {
    return Insertion(file, table, schema, now).run(row);
}

} // namespace velmora::jet
