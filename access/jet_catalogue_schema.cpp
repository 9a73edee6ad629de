#include "access/jet_catalogue_schema.h"

#include "access/jet_row_encoding.h"
#include "access/jet_values.h"
#include "access/jet_write_error.h"

#include <array>
#include <cstring>
#include <vector>

namespace velmora::jet {
namespace {

// The catalogue's own definition lies on page 2 in every version.
constexpr std::uint32_t kCataloguePage = 2;
constexpr unsigned kTableObject = 1;
// The catalogue's types (all 16 bits) of the other objects a table's name may
// belong to.
constexpr unsigned kOdbcLinkedTable = 4;
constexpr unsigned kQuery = 5;
constexpr unsigned kLinkedTable = 6;
// Catalogue flags that mark a system table.
constexpr std::uint32_t kSystemObjectFlags = 0x80000002U;
// Design properties: a header, then chunks (length 32 bits, kind 16 bits):
// the property names (kind 0x80), then a block per object (0x00 the table,
// 0x01 a column), each its name, then its properties (length 16, DDL flag 8,
// type 8, name number 16, value length 16, value).
constexpr std::array<std::string_view, 2> kPropertyHeaders = {std::string_view("MR2\0", 4),
                                                              std::string_view("KKD\0", 4)};
constexpr unsigned kNamesChunk = 0x80;
constexpr unsigned kTableBlock = 0x00;
constexpr unsigned kColumnBlock = 0x01;

std::optional<std::string> nonBlank(std::string text) {
    if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
        return std::nullopt;
    }
    return text;
}

bool yes(const std::string& text) {
    const std::string folded = foldName(text);
    return folded == "yes" || folded == "true" || folded == "1" || folded == "-1";
}

struct Property {
    unsigned type = 0;
    Bytes value;
    std::string text() const {
        return type == kBoolean ? (value.empty() || value[0] == 0 ? "no" : "yes")
                                : utf8FromJetText(value);
    }
};

using PropertyBlock = std::map<std::string, Property>; // by property name

// Reads the design properties; returns the table's block and the columns'
// blocks by folded name. Throws `damagedProperties` on bytes that do not add up.
void readProperties(Bytes bytes, PropertyBlock& table,
                    std::map<std::string, PropertyBlock>& columns,
                    const std::function<void()>& damagedProperties) {
    const auto header = std::string_view(reinterpret_cast<const char*>(bytes.data()),
                                         std::min<std::size_t>(bytes.size(), 4));
    if (std::find(kPropertyHeaders.begin(), kPropertyHeaders.end(), header) ==
        kPropertyHeaders.end()) {
        damagedProperties();
    }
    std::vector<std::string> names;
    for (std::size_t at = 4; at < bytes.size();) {
        if (at + 6 > bytes.size()) {
            damagedProperties();
        }
        const std::size_t length = getLe32(bytes, at);
        const unsigned kind = getLe16(bytes, at + 4);
        if (length < 6 || length > bytes.size() - at) {
            damagedProperties();
        }
        const Bytes chunk = bytes.subspan(at + 6, length - 6);
        at += length;
        if (kind == kNamesChunk) {
            for (std::size_t k = 0; k < chunk.size();) {
                if (k + 2 > chunk.size() || getLe16(chunk, k) > chunk.size() - k - 2) {
                    damagedProperties();
                }
                const std::size_t size = getLe16(chunk, k);
                names.push_back(utf8FromJetText(chunk.subspan(k + 2, size)));
                k += 2 + size;
            }
            continue;
        }
        if (kind != kTableBlock && kind != kColumnBlock) {
            continue;
        }
        // The block's name: its length (32 bits, counting itself and the
        // 16-bit name length), then the name.
        if (chunk.size() < 6 || getLe32(chunk, 0) < 6 || getLe32(chunk, 0) > chunk.size()) {
            damagedProperties();
        }
        const std::size_t nameEnd = getLe32(chunk, 0);
        const std::string name = utf8FromJetText(chunk.subspan(6, nameEnd - 6));
        PropertyBlock& block = kind == kTableBlock ? table : columns[foldName(name)];
        for (std::size_t k = nameEnd; k < chunk.size();) {
            const std::size_t size = k + 8 <= chunk.size() ? getLe16(chunk, k) : 0;
            if (size < 8 || size > chunk.size() - k) {
                damagedProperties();
            }
            const unsigned type = chunk[k + 3];
            const std::size_t nameIndex = getLe16(chunk, k + 4);
            const std::size_t valueSize = getLe16(chunk, k + 6);
            if (nameIndex >= names.size() || valueSize > size - 8) {
                damagedProperties();
            }
            block[names[nameIndex]] = Property{type, chunk.subspan(k + 8, valueSize)};
            k += size;
        }
    }
}

ColumnProperties columnProperties(const PropertyBlock& block) {
    ColumnProperties properties;
    const auto text = [&](const char* name) -> std::optional<std::string> {
        const auto found = block.find(name);
        return found == block.end() ? std::nullopt : std::optional(found->second.text());
    };
    properties.required = yes(text("Required").value_or("no"));
    properties.allowZeroLength = yes(text("AllowZeroLength").value_or("yes"));
    properties.defaultValue = nonBlank(text("DefaultValue").value_or(""));
    properties.validationRule = nonBlank(text("ValidationRule").value_or(""));
    properties.validationText = nonBlank(text("ValidationText").value_or(""));
    return properties;
}

[[noreturn]] void notATable(std::string_view file, std::string_view table,
                            const std::string& what) {
    throwUnsupported(std::string(table) + " in " + std::string(file) + " is " + what +
                     ", not a table of its own; add to the catalogue that holds the table, "
                     "or convert it with velmora2-init --convert");
}

} // namespace

std::string foldName(std::string name) {
    for (char& c : name) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return name;
}

CatalogueSchema readCatalogueSchema(PageFile& file, std::string_view table) {
    const JetFormat& format = file.format();
    const std::string what = "the catalogue";
    const PageSource pages = [&](std::uint32_t number) { return file.bytes(number, what); };
    const std::string wanted = foldName(std::string(table));
    CatalogueSchema schema;
    bool found = false;
    try {
        const TableDefinition catalogue =
            readTableDefinition(format, file.pageCount(), kCataloguePage, pages, what);
        const auto optionalColumn = [&](const char* name) -> std::optional<std::size_t> {
            for (std::size_t i = 0; i < catalogue.columns.size(); ++i) {
                if (catalogue.columns[i].name == name) {
                    return i;
                }
            }
            return std::nullopt;
        };
        const auto column = [&](const char* name) -> std::size_t {
            if (const auto at = optionalColumn(name)) {
                return *at;
            }
            throw JetError("it is damaged: the catalogue lacks its column " + std::string(name));
        };
        const std::size_t id = column("Id");
        const std::size_t name = column("Name");
        const std::size_t type = column("Type");
        const std::size_t flags = column("Flags");
        const std::size_t properties = column("LvProp");
        // A linked table names the file it reads in Database, an ODBC link its
        // source in Connect; neither is needed to walk the catalogue.
        const std::optional<std::size_t> database = optionalColumn("Database");
        const std::optional<std::size_t> connect = optionalColumn("Connect");
        const std::vector<unsigned char> map(
            rowAt(format, file.pageCount(), catalogue.usedPagesMap, pages, what + "'s page map")
                .begin(),
            rowAt(format, file.pageCount(), catalogue.usedPagesMap, pages, what + "'s page map")
                .end());
        const auto owned =
            usageMapPages(format, file.pageCount(), map, pages, what + "'s page map");
        if (!owned) {
            throw JetError("it is damaged: the catalogue's page map is of an unknown kind");
        }
        for (const std::uint32_t page : *owned) {
            forEachLiveRow(
                format, file.pageCount(), catalogue.page, page, pages, what,
                [&](Bytes row, unsigned) {
                    const auto fields = rowFields(format, catalogue, row);
                    if (!fields) {
                        throw JetError("it is damaged: a row of the catalogue on page " +
                                       std::to_string(page) + " cannot be taken apart");
                    }
                    const auto& f = *fields;
                    if (!f[type] || f[type]->size() < 2 || !f[name]) {
                        return;
                    }
                    const unsigned objectType = getLe16(*f[type], 0);
                    const std::string objectName = utf8FromJetText(*f[name]);
                    const bool named = foldName(objectName) == wanted;
                    if ((objectType & 0x7F) == kTableObject && f[id] && f[id]->size() >= 4) {
                        schema.tableNames.emplace(getLe32(*f[id], 0) & 0x00FFFFFF, objectName);
                    }
                    if (named && objectType == kQuery) {
                        notATable(file.name(), table, "a query");
                    }
                    if (named && (objectType == kLinkedTable || objectType == kOdbcLinkedTable)) {
                        // Both are memos: a long value, read as the properties are.
                        const auto text = [&](const std::optional<std::size_t>& at) {
                            if (!at || !f[*at]) {
                                return std::string();
                            }
                            const std::string bytes = readLongValue(
                                format, file.pageCount(), *f[*at], pages, "the catalogue's link");
                            return utf8FromJetText(
                                Bytes(reinterpret_cast<const unsigned char*>(bytes.data()),
                                      bytes.size()));
                        };
                        const std::string source =
                            objectType == kLinkedTable ? text(database) : text(connect);
                        notATable(file.name(), table,
                                  source.empty() ? std::string("a linked table")
                                                 : "a linked table (in " + source + ")");
                    }
                    if ((objectType & 0x7F) != kTableObject || !f[id] || f[id]->size() < 4 ||
                        !named) {
                        return;
                    }
                    if (f[flags] && f[flags]->size() >= 4 &&
                        (getLe32(*f[flags], 0) & kSystemObjectFlags) != 0) {
                        return;
                    }
                    if (found) {
                        throw JetError("it is damaged: the catalogue names table " +
                                       std::string(table) + " twice");
                    }
                    found = true;
                    schema.definitionPage = getLe32(*f[id], 0) & 0x00FFFFFF;
                    if (!f[properties]) {
                        return;
                    }
                    const std::string bytes =
                        readLongValue(format, file.pageCount(), *f[properties], pages,
                                      "the properties of table " + std::string(table));
                    PropertyBlock tableBlock;
                    std::map<std::string, PropertyBlock> columnBlocks;
                    readProperties(
                        Bytes(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()),
                        tableBlock, columnBlocks, [&] {
                            throw JetError("it is damaged: the properties of table " +
                                           std::string(table) + " do not add up");
                        });
                    const ColumnProperties tableProperties = columnProperties(tableBlock);
                    schema.tableValidationRule = tableProperties.validationRule;
                    schema.tableValidationText = tableProperties.validationText;
                    for (const auto& [folded, block] : columnBlocks) {
                        schema.columns.emplace(folded, columnProperties(block));
                    }
                });
        }
    } catch (const JetError& error) {
        throwDamaged(file.name(), error);
    }
    if (!found) {
        throw JetWriteError(JetWriteError::Kind::Damaged, kJetNoSuchTable,
                            file.name() + " has no table " + std::string(table));
    }
    return schema;
}

} // namespace velmora::jet
