#include "catalogue/copy/descriptor.h"
#include "tests/support/child_process.h"
#include "tests/support/jet_fixture.h"
#include "tests/support/temp_collection.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <ostream>
#include <set>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <vector>

namespace velmora::testing {
namespace {

namespace fs = std::filesystem;

// Runs velmora2-init with `arguments`; one that would wait for ever is killed
// after a minute (status 137), so the test fails instead of stalling.
ChildResult runInit(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"timeout", "-s", "KILL", "60", VELMORA_INIT_EXE});
    return runChild(arguments);
}

TEST(InitToolTest, MakesANewCollectionIncludingMissingParents) {
    const TempDir root;
    const fs::path folder = root.path() / "a" / "new collection";
    const ChildResult outcome = runInit({folder});
    EXPECT_EQ(outcome.status, 0) << outcome.errors;
    EXPECT_EQ(outcome.output, "Made the collection in " + folder.string() +
                                  ": Velmora2.db (table CD) and Programi/\n");
    EXPECT_TRUE(fs::is_directory(folder / "Programi"));
    EXPECT_TRUE(readRows((folder / "Velmora2.db").string()).empty());
}

TEST(InitToolTest, LeavesAnExistingCollectionAndItsRowsUntouched) {
    const TempCollection collection;
    collection.addRows(2, {"Igre", "Kept", "row"});
    fs::create_directory(collection.programFolder("Kept"));
    const std::string before = readFile(collection.database());

    const ChildResult outcome = runInit({collection.str()});
    EXPECT_EQ(outcome.status, 0) << outcome.errors;
    // What it holds is said, and that the one folder lacks its files.
    EXPECT_EQ(outcome.output,
              collection.path().string() +
                  " is a collection already; nothing was changed\n"
                  "Velmora2.db holds 2 entries; the folders do not match: 2 without Setup.exe or "
                  "Picture.bmp (Kept, Kept) (velmora2-list shows each entry)\n");
    EXPECT_EQ(readFile(collection.database()), before);
    EXPECT_EQ(collection.rows().size(), 2U);
    EXPECT_TRUE(fs::is_directory(collection.programFolder("Kept")));
}

// What adds killed between writing a file and renaming it left goes; only
// that: a file of another shape, one linked elsewhere, one a running copy
// holds, a link of the right shape, and anything behind a program folder that
// is a link stay.
TEST(InitToolTest, RemovesOnlyTheLeftoversOfKilledAdds) {
    const TempCollection collection;
    const TempDir outside;
    writeFile(outside.path() / "outside.txt", "outside");
    writeFile(outside.path() / ".Setup.exe.velmora2-Behind", "behind a link");
    const fs::path tool = collection.programFolder("Tool");
    const fs::path other = collection.programFolder("Other");
    fs::create_directory(tool);
    fs::create_directory(other);
    fs::create_directory_symlink(outside.path(), collection.programFolder("Linked"));
    writeFile(tool / ".Picture.bmp.velmora2-Killed", "killed");
    writeFile(other / ".Setup.exe.velmora2-Killed", "killed");
    writeFile(tool / ".Setup.exe.velmora2-orig", "another shape");
    writeFile(tool / ".Setup.exe.velmora2-Locked", "a running copy");
    writeFile(outside.path() / "linked", "linked elsewhere");
    fs::create_hard_link(outside.path() / "linked", tool / ".Setup.exe.velmora2-Linked");
    fs::create_symlink(outside.path() / "outside.txt", tool / ".Picture.bmp.velmora2-Symlnk");
    const Descriptor running(FileSystem::real(),
                             ::open((tool / ".Setup.exe.velmora2-Locked").c_str(), O_RDONLY));
    ASSERT_EQ(::flock(running.get(), LOCK_EX), 0);

    const ChildResult outcome = runInit({collection.str()});
    EXPECT_EQ(outcome.status, 0) << outcome.errors;
    // The first line; what the catalogue holds follows it.
    EXPECT_EQ(outcome.output.substr(0, outcome.output.find('\n') + 1),
              "Removed 2 unfinished copies that killed adds left in " +
                  (collection.path() / "Programi").string() + "/\n");
    EXPECT_EQ(
        folderEntries(tool),
        (std::set<std::string>{".Setup.exe.velmora2-orig", ".Setup.exe.velmora2-Locked",
                               ".Setup.exe.velmora2-Linked", ".Picture.bmp.velmora2-Symlnk"}));
    EXPECT_TRUE(folderEntries(other).empty());
    EXPECT_EQ(readFile(outside.path() / ".Setup.exe.velmora2-Behind"), "behind a link");
    EXPECT_EQ(readFile(outside.path() / "outside.txt"), "outside");
    EXPECT_EQ(readFile(outside.path() / "linked"), "linked elsewhere");
}

TEST(InitToolTest, RefusesAForeignFileAndTouchesNothing) {
    const TempDir folder;
    const fs::path database = folder.path() / "Velmora2.db";
    const std::string foreign = "my own notes, not a database\n";
    writeFile(database, foreign);

    const ChildResult outcome = runInit({folder.str()});
    EXPECT_NE(outcome.status, 0);
    EXPECT_NE(outcome.errors.find("Velmora2.db"), std::string::npos) << outcome.errors;
    EXPECT_EQ(std::count(outcome.errors.begin(), outcome.errors.end(), '\n'), 1);
    EXPECT_EQ(readFile(database), foreign);
    EXPECT_FALSE(fs::exists(folder.path() / "Programi"));
}

TEST(InitToolTest, RefusesADatabaseWithoutTheCatalogueTable) {
    const TempDir folder;
    const fs::path database = folder.path() / "Velmora2.db";
    ASSERT_EQ(runChild({"sqlite3", database.string(), "CREATE TABLE Other(x)"}).status, 0);
    const std::string before = readFile(database);

    const ChildResult outcome = runInit({folder.str()});
    EXPECT_NE(outcome.status, 0);
    EXPECT_NE(outcome.errors.find("not a catalogue"), std::string::npos) << outcome.errors;
    EXPECT_EQ(readFile(database), before);
    EXPECT_FALSE(fs::exists(folder.path() / "Programi"));
}

// Opening a FIFO to read waits for a writer: Velmora2.db is looked at without
// waiting and refused in one line.
TEST(InitToolTest, RefusesAFifoAtOnce) {
    const TempDir folder;
    const fs::path database = folder.path() / "Velmora2.db";
    ASSERT_EQ(mkfifo(database.c_str(), 0644), 0);

    const ChildResult outcome = runInit({folder.str()});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.errors, "velmora2-init: " + database.string() +
                                  ": a FIFO, not a plain file, so not a catalogue\n");
    EXPECT_TRUE(fs::is_fifo(database));
    EXPECT_FALSE(fs::exists(folder.path() / "Programi"));
}

TEST(InitToolTest, BadArgumentsGiveUsage) {
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {}, {"one", "two"}, {""}, {"--convert"}, {"--convert", "one", "two"}}) {
        SCOPED_TRACE(arguments.size());
        const ChildResult outcome = runInit(arguments);
        EXPECT_EQ(outcome.status, 2);
        EXPECT_EQ(outcome.errors.rfind(
                      "usage: velmora2-init [--convert] [--accept-missing-rows] FOLDER", 0),
                  0U)
            << outcome.errors;
    }
    EXPECT_EQ(runInit({"--help"}).status, 0);
}

TEST(InitToolTest, RefusesAFileWhereTheFolderShouldBe) {
    const TempDir root;
    writeFile(root.path() / "plain", "x");
    const ChildResult outcome = runInit({(root.path() / "plain").string()});
    EXPECT_NE(outcome.status, 0);
    EXPECT_EQ(readFile(root.path() / "plain"), "x");
}

struct AccessCase {
    const char* name;
    std::vector<std::string> arguments;
    int status;
    const char* says; // on standard output when it succeeds, else on standard error
    friend void PrintTo(const AccessCase& c, std::ostream* out) { *out << c.name; }
};

class InitOnAccessTest : public ::testing::TestWithParam<AccessCase> {};

// Without --convert, an Access catalogue stays byte for byte as it came from
// Windows: one the add writes in place gets one line saying it is ready and
// one saying what it holds, one it cannot write a line naming --convert, a
// damaged one a line saying why.
TEST_P(InitOnAccessTest, LeavesTheAccessFileAsItIs) {
    const TempDir folder;
    const fs::path database = folder.path() / "Velmora2.db";
    makeJet(database, GetParam().arguments);
    const std::string before = readFile(database);

    const ChildResult outcome = runInit({folder.str()});
    EXPECT_EQ(outcome.status, GetParam().status);
    const std::string& said = outcome.status == 0 ? outcome.output : outcome.errors;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), outcome.status == 0 ? 2 : 1) << said;
    EXPECT_NE(said.find(GetParam().says), std::string::npos) << said;
    EXPECT_EQ(readFile(database), before);
    EXPECT_EQ(fs::is_directory(folder.path() / "Programi"), outcome.status == 0);
}

INSTANTIATE_TEST_SUITE_P(
    Catalogues, InitOnAccessTest,
    ::testing::Values(AccessCase{"Jet4", {"--schema", "indexed"}, 0, "ready to add to"},
                      AccessCase{"Jet3", {"--jet3", "--schema", "rich"}, 1, "--convert"},
                      AccessCase{"Accdb", {"--accdb"}, 1, "--convert"},
                      AccessCase{"TextKeyedIndex",
                                 {"--schema", "indexed", "--index", "Naziv:Napomena"},
                                 0,
                                 "ready to add to"},
                      AccessCase{"TextKeyedIndexInAnotherSortOrder",
                                 {"--schema", "indexed", "--index", "Naziv:Napomena",
                                  "--sort-order", "1050.0"},
                                 1,
                                 "--convert"},
                      AccessCase{"NoTableCD", {"--schema", "nocd"}, 1, "has no table CD"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace velmora::testing
