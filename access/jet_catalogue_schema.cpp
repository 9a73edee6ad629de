#include "access/jet_catalogue_schema.h"

#include "access/jet_write_error.h"

// mdbtools.h includes <glib.h> inside its extern "C" block; glib's C++
// templates must come first.
#include <glib.h>
#include <mdbtools.h>
#include <memory>

namespace velmora::jet {
namespace {

struct HandleCloser {
    void operator()(MdbHandle* mdb) const noexcept { mdb_close(mdb); }
};
struct TableFreer {
    void operator()(MdbTableDef* table) const noexcept { mdb_free_tabledef(table); }
};

[[noreturn]] void damaged(const std::string& why) {
    throw JetWriteError(JetWriteError::Kind::Damaged, kJetDamaged, "Velmora2.db " + why);
}

std::optional<std::string> property(const char* value) {
    if (value == nullptr) {
        return std::nullopt;
    }
    std::string text(value);
    const auto blank = text.find_first_not_of(" \t\r\n");
    if (blank == std::string::npos) {
        return std::nullopt;
    }
    return text;
}

bool yes(const char* value) {
    return value != nullptr &&
           (g_ascii_strcasecmp(value, "yes") == 0 || g_ascii_strcasecmp(value, "true") == 0 ||
            g_ascii_strcasecmp(value, "1") == 0);
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

CatalogueSchema readCatalogueSchema(const std::string& path) {
    const std::unique_ptr<MdbHandle, HandleCloser> mdb(mdb_open(path.c_str(), MDB_NOFLAGS));
    if (!mdb) {
        damaged("cannot be read as an Access catalogue");
    }
    GPtrArray* catalogue = mdb_read_catalog(mdb.get(), MDB_TABLE);
    if (catalogue == nullptr) {
        damaged("is damaged: its list of tables cannot be read");
    }
    MdbCatalogEntry* found = nullptr;
    for (guint i = 0; i < catalogue->len; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(catalogue, i));
        if (entry->object_type == MDB_TABLE && g_ascii_strcasecmp(entry->object_name, "CD") == 0) {
            found = entry;
            break;
        }
    }
    if (found == nullptr) {
        throw JetWriteError(JetWriteError::Kind::Damaged, kJetNoSuchTable,
                            "Velmora2.db has no table CD");
    }
    CatalogueSchema schema;
    schema.definitionPage = static_cast<std::uint32_t>(found->table_pg);
    const std::unique_ptr<MdbTableDef, TableFreer> table(mdb_read_table(found));
    if (!table || mdb_read_columns(table.get()) == nullptr) {
        damaged("is damaged: the definition of table CD cannot be read");
    }
    schema.tableValidationRule = property(mdb_table_get_prop(table.get(), "ValidationRule"));
    for (guint i = 0; i < table->columns->len; ++i) {
        const auto* column = static_cast<const MdbColumn*>(g_ptr_array_index(table->columns, i));
        ColumnProperties properties;
        properties.required = yes(mdb_col_get_prop(column, "Required"));
        const char* zeroLength = mdb_col_get_prop(column, "AllowZeroLength");
        properties.allowZeroLength = zeroLength == nullptr || yes(zeroLength);
        properties.defaultValue = property(mdb_col_get_prop(column, "DefaultValue"));
        properties.validationRule = property(mdb_col_get_prop(column, "ValidationRule"));
        schema.columns.emplace(foldName(column->name), std::move(properties));
    }
    return schema;
}

} // namespace velmora::jet
