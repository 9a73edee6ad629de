#include "cli/init/converted_catalogue.h"

#include "access/jet_reader.h"
#include "catalogue/catalogue_database.h"

#include <memory>
#include <sqlite3.h>
#include <string_view>

namespace velmora {
namespace {

using Connection = std::unique_ptr<sqlite3, ConnectionCloser>;
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// An autonumber value that repeats or is missing: the column cannot be the key.
struct AutonumberNotKey {};

std::string quoted(const std::string& name) {
    std::string out = "\"";
    for (const char c : name) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    return out + '"';
}

const char* declaredType(jet::Storage storage) {
    switch (storage) {
    case jet::Storage::Integer:
        return "INTEGER";
    case jet::Storage::Real:
        return "REAL";
    case jet::Storage::Text:
        return "TEXT";
    case jet::Storage::Blob:
        break;
    }
    return "BLOB";
}

class Database {
public:
    Database(const std::string& path, int flags) {
        sqlite3* raw = nullptr;
        const int code = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
        m_db.reset(raw);
        if (code != SQLITE_OK) {
            fail("cannot be opened");
        }
    }

    [[noreturn]] void fail(const std::string& what) const {
        throw CatalogueWriteError("the new catalogue " + what + " (" +
                                  (m_db ? sqlite3_errmsg(m_db.get()) : "out of memory") + ")");
    }

    void exec(const std::string& sql) {
        if (sqlite3_exec(m_db.get(), sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
            fail("cannot be written");
        }
    }

    Statement prepare(const std::string& sql) {
        sqlite3_stmt* raw = nullptr;
        const int code = sqlite3_prepare_v2(m_db.get(), sql.c_str(), -1, &raw, nullptr);
        Statement statement(raw);
        if (code != SQLITE_OK) {
            fail("cannot be written");
        }
        return statement;
    }

    sqlite3* handle() const { return m_db.get(); }

private:
    Connection m_db;
};

void bind(Database& db, sqlite3_stmt* statement, int index, const jet::Value& value) {
    int code = SQLITE_OK;
    switch (value.type) {
    case jet::Value::Type::Null:
        code = sqlite3_bind_null(statement, index);
        break;
    case jet::Value::Type::Integer:
        code = sqlite3_bind_int64(statement, index, value.integer);
        break;
    case jet::Value::Type::Real:
        code = sqlite3_bind_double(statement, index, value.real);
        break;
    case jet::Value::Type::Text:
        // Bound by length: a U+0000 inside a Jet text ends nothing.
        code = sqlite3_bind_text64(statement, index, value.bytes.data(), value.bytes.size(),
                                   SQLITE_STATIC, SQLITE_UTF8);
        break;
    case jet::Value::Type::Blob:
        code = sqlite3_bind_blob64(statement, index, value.bytes.data(), value.bytes.size(),
                                   SQLITE_STATIC);
        break;
    }
    if (code != SQLITE_OK) {
        db.fail("cannot be written");
    }
}

// Writes one table; with `autonumberKey` its autonumber column is the key.
std::uint64_t writeTable(Database& db, jet::JetReader& reader, std::size_t index, int autonumber,
                         bool autonumberKey) {
    const jet::Table& table = reader.tables()[index];
    std::string create = "CREATE TABLE " + quoted(table.name) + " (";
    std::string insert = "INSERT INTO " + quoted(table.name) + " VALUES (";
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
        const jet::Column& column = table.columns[i];
        create += (i > 0 ? ", " : "") + quoted(column.name) + " " + declaredType(column.storage);
        if (autonumberKey && static_cast<int>(i) == autonumber) {
            create += " PRIMARY KEY AUTOINCREMENT";
        }
        insert += i > 0 ? ",?" : "?";
    }
    db.exec(create + ")");
    if (table.columns.empty()) {
        return reader.readRows(index, [](std::span<const jet::Value>) {});
    }
    const Statement statement = db.prepare(insert + ")");
    sqlite3_stmt* raw = statement.get();
    const std::uint64_t rows = reader.readRows(index, [&](std::span<const jet::Value> row) {
        if (autonumberKey &&
            row[static_cast<std::size_t>(autonumber)].type != jet::Value::Type::Integer) {
            throw AutonumberNotKey{};
        }
        for (std::size_t i = 0; i < row.size(); ++i) {
            bind(db, raw, static_cast<int>(i) + 1, row[i]);
        }
        const int code = sqlite3_step(raw);
        sqlite3_reset(raw);
        if (code == SQLITE_CONSTRAINT && autonumberKey) {
            throw AutonumberNotKey{};
        }
        if (code != SQLITE_DONE) {
            db.fail("cannot be written");
        }
    });
    if (autonumberKey && table.lastAutonumber > 0) {
        // Continue from where Jet would: after the highest number it handed
        // out, even when the rows that held the last numbers were deleted.
        const Statement seed =
            db.prepare("UPDATE sqlite_sequence SET seq = max(seq, ?2) WHERE name = ?1");
        const std::string& name = table.name;
        sqlite3_bind_text64(seed.get(), 1, name.data(), name.size(), SQLITE_STATIC, SQLITE_UTF8);
        sqlite3_bind_int64(seed.get(), 2, table.lastAutonumber);
        if (sqlite3_step(seed.get()) != SQLITE_DONE) {
            db.fail("cannot be written");
        }
        if (sqlite3_changes(db.handle()) == 0) {
            const Statement first =
                db.prepare("INSERT INTO sqlite_sequence (name, seq) VALUES (?1, ?2)");
            sqlite3_bind_text64(first.get(), 1, name.data(), name.size(), SQLITE_STATIC,
                                SQLITE_UTF8);
            sqlite3_bind_int64(first.get(), 2, table.lastAutonumber);
            if (sqlite3_step(first.get()) != SQLITE_DONE) {
                db.fail("cannot be written");
            }
        }
    }
    return rows;
}

} // namespace

std::vector<ConvertedTable> writeConvertedCatalogue(const std::string& path, jet::JetReader& reader,
                                                    const std::function<void()>& tableWritten) {
    Database db(path, SQLITE_OPEN_READWRITE);
    // The file is new and thrown away unless complete, so the rollback journal
    // only serves the savepoints and may stay in memory; it is flushed to disk
    // once, when it is complete.
    db.exec("PRAGMA journal_mode = MEMORY; PRAGMA synchronous = OFF; BEGIN");
    std::vector<ConvertedTable> converted;
    for (std::size_t index = 0; index < reader.tables().size(); ++index) {
        const jet::Table& table = reader.tables()[index];
        ConvertedTable result;
        result.name = table.name;
        result.recordedRows = table.recordedRows;
        int autonumber = -1;
        for (std::size_t i = 0; i < table.columns.size(); ++i) {
            if (table.columns[i].autonumber && autonumber < 0) {
                autonumber = static_cast<int>(i);
                result.autonumberColumn = table.columns[i].name;
            }
        }
        result.autonumberIsKey = autonumber >= 0;
        for (;;) {
            db.exec("SAVEPOINT jet_table");
            try {
                result.rows = writeTable(db, reader, index, autonumber, result.autonumberIsKey);
            } catch (const AutonumberNotKey&) {
                db.exec("ROLLBACK TO jet_table; RELEASE jet_table");
                result.autonumberIsKey = false;
                continue;
            }
            db.exec("RELEASE jet_table");
            break;
        }
        converted.push_back(std::move(result));
        if (tableWritten) {
            tableWritten();
        }
    }
    db.exec("COMMIT");
    return converted;
}

void checkConvertedCatalogue(const std::string& path, const std::vector<ConvertedTable>& tables) {
    Database db(path, SQLITE_OPEN_READONLY);
    {
        const Statement check = db.prepare("PRAGMA quick_check");
        const auto* verdict =
            sqlite3_step(check.get()) == SQLITE_ROW
                ? reinterpret_cast<const char*>(sqlite3_column_text(check.get(), 0))
                : nullptr;
        if (verdict == nullptr || std::string_view(verdict) != "ok") {
            db.fail("does not pass SQLite's check");
        }
    }
    for (const ConvertedTable& table : tables) {
        const Statement count = db.prepare("SELECT count(*) FROM " + quoted(table.name));
        if (sqlite3_step(count.get()) != SQLITE_ROW) {
            db.fail("cannot be read back");
        }
        const auto stored = static_cast<std::uint64_t>(sqlite3_column_int64(count.get(), 0));
        if (stored != table.rows) {
            throw CatalogueWriteError("the new catalogue holds " + std::to_string(stored) +
                                      " rows of table " + table.name + " instead of " +
                                      std::to_string(table.rows));
        }
    }
}

} // namespace velmora
