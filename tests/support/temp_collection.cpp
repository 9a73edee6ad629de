#include "tests/support/temp_collection.h"

#include "catalogue/catalogue_database.h"
#include "cli/init/collection_init.h"

#include <cstdlib>
#include <memory>
#include <sqlite3.h>
#include <stdexcept>
#include <stdlib.h>

namespace velmora::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "velmora-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_path = pattern;
}

TempDir::~TempDir() {
    // VELMORA_KEEP_TEST_DIRS=1 leaves the files a test wrote, to be judged
    // by other readers afterwards.
    if (const char* keep = std::getenv("VELMORA_KEEP_TEST_DIRS"); keep != nullptr && *keep == '1') {
        return;
    }
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
}

TempCollection::TempCollection() {
    const InitResult result = initCollection(str());
    if (!result.ok()) {
        throw std::runtime_error(result.error);
    }
}

std::vector<Row> TempCollection::rows() const {
    return readRows(database());
}

void TempCollection::addRows(int count, const Row& row) const {
    sqlite3* raw = nullptr;
    const int opened = sqlite3_open_v2(database().c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    const std::unique_ptr<sqlite3, ConnectionCloser> db(raw);
    const auto check = [raw](int code, int expected) {
        if (code != expected) {
            throw std::runtime_error(raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(code));
        }
    };
    check(opened, SQLITE_OK);
    check(sqlite3_exec(raw, "BEGIN", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_stmt* rawStatement = nullptr;
    const int prepared =
        sqlite3_prepare_v2(raw, "INSERT INTO CD VALUES (?,?,?)", -1, &rawStatement, nullptr);
    const std::unique_ptr<sqlite3_stmt, StatementFinalizer> statement(rawStatement);
    check(prepared, SQLITE_OK);
    for (int i = 0; i < count; ++i) {
        check(sqlite3_bind_text(rawStatement, 1, row.kategorija.c_str(), -1, SQLITE_STATIC),
              SQLITE_OK);
        check(sqlite3_bind_text(rawStatement, 2, row.program.c_str(), -1, SQLITE_STATIC),
              SQLITE_OK);
        check(sqlite3_bind_text(rawStatement, 3, row.opis.c_str(), -1, SQLITE_STATIC), SQLITE_OK);
        check(sqlite3_step(rawStatement), SQLITE_DONE);
        check(sqlite3_reset(rawStatement), SQLITE_OK);
    }
    check(sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
}

std::vector<Row> readRows(const std::string& databasePath) {
    sqlite3* raw = nullptr;
    if (sqlite3_open_v2(databasePath.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(raw);
        throw std::runtime_error("cannot open " + databasePath);
    }
    const std::unique_ptr<sqlite3, ConnectionCloser> db(raw);
    sqlite3_stmt* rawStatement = nullptr;
    if (sqlite3_prepare_v2(raw, "SELECT Kategorija, Program, Opis FROM CD ORDER BY rowid", -1,
                           &rawStatement, nullptr) != SQLITE_OK) {
        throw std::runtime_error(sqlite3_errmsg(raw));
    }
    const std::unique_ptr<sqlite3_stmt, StatementFinalizer> statement(rawStatement);
    const auto text = [&](int column) {
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(rawStatement, column));
        return std::string(bytes != nullptr ? bytes : "",
                           static_cast<std::size_t>(sqlite3_column_bytes(rawStatement, column)));
    };
    std::vector<Row> rows;
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(rawStatement)) == SQLITE_ROW) {
        rows.push_back({text(0), text(1), text(2)});
    }
    if (step != SQLITE_DONE) {
        throw std::runtime_error(sqlite3_errmsg(raw));
    }
    return rows;
}

} // namespace velmora::testing
