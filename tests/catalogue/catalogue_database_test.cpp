#include "catalogue/catalogue_database.h"
#include "catalogue/failure.h"
#include "tests/catalogue/temp_collection.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <sqlite3.h>
#include <thread>

namespace velmora::testing {
namespace {

namespace fs = std::filesystem;

TEST(CatalogueDatabaseTest, OpeningNeverCreatesTheCatalogue) {
    const TempDir folder;
    const std::string path = databasePath(folder.str());
    EXPECT_EQ(path, folder.str() + "/Velmora2.db");
    try {
        CatalogueConnection connection(path);
        FAIL() << "a missing catalogue was opened";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.number, SQLITE_CANTOPEN);
    }
    EXPECT_TRUE(fs::is_empty(folder.path()));
}

TEST(CatalogueDatabaseTest, EachRunAddsExactlyOneRowWithTheBoundBytes) {
    const TempCollection collection;
    collection.addRows(3, {"Igre", "Old", "kept"});
    // Bound by length, so even a NUL inside a value is kept and ends nothing.
    const std::string withNul("before\0after", 12);
    {
        const CatalogueConnection connection(collection.database());
        InsertStatement statement(connection);
        statement.run(withNul, "Prog'ram", "");
    }
    const std::vector<Row> rows = collection.rows();
    ASSERT_EQ(rows.size(), 4U);
    EXPECT_EQ(rows.back(), (Row{withNul, "Prog'ram", ""}));
}

TEST(CatalogueDatabaseTest, HeldCatalogueIsWaitedForUntilReleased) {
    const TempCollection collection;
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(collection.database().c_str(), &raw), SQLITE_OK);
    const std::unique_ptr<sqlite3, ConnectionCloser> holder(raw);
    ASSERT_EQ(sqlite3_exec(raw, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);

    // The other program finishes its write well inside the busy timeout.
    std::thread releaser([raw] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr);
    });
    try {
        const CatalogueConnection connection(collection.database());
        InsertStatement statement(connection);
        statement.run("CDDVD", "Waited", "");
    } catch (const Failure& failure) {
        ADD_FAILURE() << failure.number << " " << failure.description;
    }
    releaser.join();
    EXPECT_EQ(collection.rows(), (std::vector<Row>{{"CDDVD", "Waited", ""}}));
}

} // namespace
} // namespace velmora::testing
