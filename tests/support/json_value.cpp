#include "tests/support/json_value.h"

#include "catalogue/catalogue_database.h"

#include <memory>
#include <sqlite3.h>

namespace velmora::testing {

std::optional<std::string> jsonValue(const std::string& json, const std::string& path) {
    sqlite3* raw = nullptr;
    sqlite3_open(":memory:", &raw);
    const std::unique_ptr<sqlite3, ConnectionCloser> db(raw);
    sqlite3_stmt* rawStatement = nullptr;
    if (sqlite3_prepare_v2(raw,
                           "SELECT json_valid(?1), json_type(?1, ?2), "
                           "coalesce(json_extract(?1, ?2), 'null')",
                           -1, &rawStatement, nullptr) != SQLITE_OK) {
        return std::nullopt;
    }
    const std::unique_ptr<sqlite3_stmt, StatementFinalizer> statement(rawStatement);
    sqlite3_bind_text(rawStatement, 1, json.c_str(), static_cast<int>(json.size()),
                      SQLITE_TRANSIENT);
    sqlite3_bind_text(rawStatement, 2, path.c_str(), static_cast<int>(path.size()),
                      SQLITE_TRANSIENT);
    if (sqlite3_step(rawStatement) != SQLITE_ROW || sqlite3_column_int(rawStatement, 0) != 1 ||
        sqlite3_column_type(rawStatement, 1) == SQLITE_NULL) {
        return std::nullopt;
    }
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(rawStatement, 2));
    return std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(rawStatement, 2)));
}

} // namespace velmora::testing
