#include "access/jet_catalogue_schema.h"

#include "access/jet_write_error.h"

// mdbtools.h includes <glib.h> inside its extern "C" block; glib's C++
// templates must come first.
#include <glib.h>
#include <mdbtools.h>
#include <memory>
#include <vector>

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

// MSysObjects' types of the objects that may be named CD.
constexpr int kLocalTable = 1;
constexpr int kOdbcLinkedTable = 4;
constexpr int kQuery = 5;
constexpr int kLinkedTable = 6;

[[noreturn]] void notATable(const std::string& what) {
    throw JetWriteError(JetWriteError::Kind::Unsupported, kJetCannotWriteInPlace,
                        "CD in Velmora2.db is " + what +
                            ", not a table of its own; add to the catalogue that holds the table, "
                            "or convert it with velmora2-init --convert");
}

// The file a linked table CD reads, from its row in MSysObjects (the Database
// column; an ODBC link names its source in Connect instead).
std::string linkedFile(MdbHandle* mdb, const std::string& name) {
    char objects[] = "MSysObjects";
    const std::unique_ptr<MdbTableDef, TableFreer> table(
        mdb_read_table_by_name(mdb, objects, MDB_TABLE));
    if (!table || mdb_read_columns(table.get()) == nullptr) {
        return {};
    }
    mdb_rewind_table(table.get());
    std::vector<char> rowName(MDB_BIND_SIZE), database(MDB_BIND_SIZE), connect(MDB_BIND_SIZE);
    char nameColumn[] = "Name", databaseColumn[] = "Database", connectColumn[] = "Connect";
    int nameLength = 0, databaseLength = 0, connectLength = 0;
    if (mdb_bind_column_by_name(table.get(), nameColumn, rowName.data(), &nameLength) < 0) {
        return {};
    }
    mdb_bind_column_by_name(table.get(), databaseColumn, database.data(), &databaseLength);
    mdb_bind_column_by_name(table.get(), connectColumn, connect.data(), &connectLength);
    while (mdb_fetch_row(table.get()) != 0) {
        if (g_ascii_strcasecmp(rowName.data(), name.c_str()) == 0) {
            return databaseLength > 0 ? std::string(database.data()) : std::string(connect.data());
        }
    }
    return {};
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
    GPtrArray* catalogue = mdb_read_catalog(mdb.get(), MDB_ANY);
    if (catalogue == nullptr) {
        damaged("is damaged: its list of tables cannot be read");
    }
    CatalogueSchema schema;
    MdbCatalogEntry* found = nullptr;
    for (guint i = 0; i < catalogue->len; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(catalogue, i));
        if (entry->object_type == kLocalTable) {
            schema.tableNames.emplace(static_cast<std::uint32_t>(entry->table_pg),
                                      entry->object_name);
        }
        if (g_ascii_strcasecmp(entry->object_name, "CD") != 0) {
            continue;
        }
        switch (entry->object_type) {
        case kLocalTable:
            found = entry;
            break;
        case kQuery:
            notATable("a query");
        case kLinkedTable:
        case kOdbcLinkedTable: {
            const std::string file = linkedFile(mdb.get(), entry->object_name);
            notATable(file.empty() ? std::string("a linked table")
                                   : "a linked table (in " + file + ")");
        }
        default:
            break;
        }
    }
    if (found == nullptr) {
        throw JetWriteError(JetWriteError::Kind::Damaged, kJetNoSuchTable,
                            "Velmora2.db has no table CD");
    }
    schema.definitionPage = static_cast<std::uint32_t>(found->table_pg);
    const std::unique_ptr<MdbTableDef, TableFreer> table(mdb_read_table(found));
    if (!table || mdb_read_columns(table.get()) == nullptr) {
        damaged("is damaged: the definition of table CD cannot be read");
    }
    schema.tableValidationRule = property(mdb_table_get_prop(table.get(), "ValidationRule"));
    schema.tableValidationText = property(mdb_table_get_prop(table.get(), "ValidationText"));
    for (guint i = 0; i < table->columns->len; ++i) {
        const auto* column = static_cast<const MdbColumn*>(g_ptr_array_index(table->columns, i));
        ColumnProperties properties;
        properties.required = yes(mdb_col_get_prop(column, "Required"));
        const char* zeroLength = mdb_col_get_prop(column, "AllowZeroLength");
        properties.allowZeroLength = zeroLength == nullptr || yes(zeroLength);
        properties.defaultValue = property(mdb_col_get_prop(column, "DefaultValue"));
        properties.validationRule = property(mdb_col_get_prop(column, "ValidationRule"));
        properties.validationText = property(mdb_col_get_prop(column, "ValidationText"));
        schema.columns.emplace(foldName(column->name), std::move(properties));
    }
    return schema;
}

} // namespace velmora::jet
