#include "catalogue/catalogue_database.h"
#include "catalogue/failure.h"
#include "tests/support/temp_collection.h"

#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <sqlite3.h>
#include <stdexcept>
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

// An SQLite VFS like the default one whose first sleep, which SQLite's busy
// handler takes only while another connection holds the catalogue, is the
// holder's cue that the add is waiting for it.
class SleepSignallingVfs {
public:
    SleepSignallingVfs() : m_shim{*sqlite3_vfs_find(nullptr), this} {
        m_shim.vfs.zName = "velmora-sleep-signal";
        m_shim.vfs.pNext = nullptr;
        m_shim.vfs.xSleep = &sleep;
        if (sqlite3_vfs_register(&m_shim.vfs, 0) != SQLITE_OK) {
            throw std::runtime_error("cannot register the VFS");
        }
    }
    ~SleepSignallingVfs() {
        signal();
        sqlite3_vfs_unregister(&m_shim.vfs);
    }
    SleepSignallingVfs(const SleepSignallingVfs&) = delete;
    SleepSignallingVfs& operator=(const SleepSignallingVfs&) = delete;

    const char* name() const { return m_shim.vfs.zName; }
    // Ready once a connection of this VFS has slept, or signal() was called.
    std::shared_future<void> waiting() const { return m_waiting; }
    // Gives the cue now, so a holder never waits for an add that failed at once.
    void signal() {
        if (!m_signalled) {
            m_signalled = true;
            m_cue.set_value();
        }
    }
    int sleeps() const { return m_sleeps; }

private:
    // The VFS first, so SQLite's pointer to it leads back to its owner.
    struct Shim {
        sqlite3_vfs vfs;
        SleepSignallingVfs* owner;
    };

    static int sleep(sqlite3_vfs* vfs, int microseconds) {
        SleepSignallingVfs& self = *reinterpret_cast<Shim*>(vfs)->owner;
        ++self.m_sleeps;
        self.signal();
        sqlite3_vfs* base = sqlite3_vfs_find(nullptr);
        return base->xSleep(base, microseconds);
    }

    Shim m_shim;
    std::promise<void> m_cue;
    std::shared_future<void> m_waiting = m_cue.get_future().share();
    bool m_signalled = false;
    int m_sleeps = 0;
};

TEST(CatalogueDatabaseTest, HeldCatalogueIsWaitedForUntilReleased) {
    const TempCollection collection;
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(collection.database().c_str(), &raw), SQLITE_OK);
    const std::unique_ptr<sqlite3, ConnectionCloser> holder(raw);
    ASSERT_EQ(sqlite3_exec(raw, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);

    // The other program finishes its write once the add has begun to wait.
    SleepSignallingVfs vfs;
    std::thread releaser([raw, waiting = vfs.waiting()] {
        waiting.wait();
        sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr);
    });
    try {
        const CatalogueConnection connection(collection.database(), vfs.name());
        InsertStatement statement(connection);
        statement.run("CDDVD", "Waited", "");
    } catch (const Failure& failure) {
        ADD_FAILURE() << failure.number << " " << failure.description;
    }
    vfs.signal();
    releaser.join();
    EXPECT_GE(vfs.sleeps(), 1);
    EXPECT_EQ(collection.rows(), (std::vector<Row>{{"CDDVD", "Waited", ""}}));
}

} // namespace
} // namespace velmora::testing
