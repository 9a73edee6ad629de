#include "tests/support/jet_fixture.h"
#include "tests/support/temp_collection.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace velmora::testing {
namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string errors;
};

// Runs velmora2-init with the given argument text; standard error is kept.
Outcome runInit(const std::string& arguments) {
    const TempDir scratch;
    const fs::path errorFile = scratch.path() / "stderr";
    const std::string command = std::string(VELMORA_INIT_EXE) + " " + arguments + " 2>" +
                                errorFile.string() + " >/dev/null";
    const int raw = std::system(command.c_str());
    Outcome outcome;
    outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    outcome.errors = readFile(errorFile);
    return outcome;
}

std::string quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

TEST(InitToolTest, MakesANewCollectionIncludingMissingParents) {
    const TempDir root;
    const fs::path folder = root.path() / "a" / "new collection";
    const Outcome outcome = runInit(quoted(folder));
    EXPECT_EQ(outcome.status, 0) << outcome.errors;
    EXPECT_TRUE(fs::is_directory(folder / "Programi"));
    EXPECT_TRUE(readRows((folder / "Velmora2.db").string()).empty());
}

TEST(InitToolTest, LeavesAnExistingCollectionAndItsRowsUntouched) {
    const TempCollection collection;
    collection.addRows(2, {"Igre", "Kept", "row"});
    fs::create_directory(collection.programFolder("Kept"));
    const std::string before = readFile(collection.database());

    const Outcome outcome = runInit(quoted(collection.path()));
    EXPECT_EQ(outcome.status, 0) << outcome.errors;
    EXPECT_EQ(readFile(collection.database()), before);
    EXPECT_EQ(collection.rows().size(), 2U);
    EXPECT_TRUE(fs::is_directory(collection.programFolder("Kept")));
}

TEST(InitToolTest, RefusesAForeignFileAndTouchesNothing) {
    const TempDir folder;
    const fs::path database = folder.path() / "Velmora2.db";
    const std::string foreign = "my own notes, not a database\n";
    writeFile(database, foreign);

    const Outcome outcome = runInit(quoted(folder.path()));
    EXPECT_NE(outcome.status, 0);
    EXPECT_NE(outcome.errors.find("Velmora2.db"), std::string::npos) << outcome.errors;
    EXPECT_EQ(std::count(outcome.errors.begin(), outcome.errors.end(), '\n'), 1);
    EXPECT_EQ(readFile(database), foreign);
    EXPECT_FALSE(fs::exists(folder.path() / "Programi"));
}

TEST(InitToolTest, RefusesADatabaseWithoutTheCatalogueTable) {
    const TempDir folder;
    const fs::path database = folder.path() / "Velmora2.db";
    const std::string create = "sqlite3 " + quoted(database) + " 'CREATE TABLE Other(x)'";
    ASSERT_EQ(std::system(create.c_str()), 0);
    const std::string before = readFile(database);

    const Outcome outcome = runInit(quoted(folder.path()));
    EXPECT_NE(outcome.status, 0);
    EXPECT_NE(outcome.errors.find("not a catalogue"), std::string::npos) << outcome.errors;
    EXPECT_EQ(readFile(database), before);
    EXPECT_FALSE(fs::exists(folder.path() / "Programi"));
}

TEST(InitToolTest, BadArgumentsGiveUsage) {
    for (const std::string arguments : {"", "one two", "''", "--convert", "--convert one two"}) {
        SCOPED_TRACE(arguments);
        const Outcome outcome = runInit(arguments);
        EXPECT_EQ(outcome.status, 2);
        EXPECT_EQ(outcome.errors.rfind("usage: velmora2-init [--convert] FOLDER", 0), 0U)
            << outcome.errors;
    }
    EXPECT_EQ(runInit("--help").status, 0);
}

TEST(InitToolTest, RefusesAFileWhereTheFolderShouldBe) {
    const TempDir root;
    writeFile(root.path() / "plain", "x");
    const Outcome outcome = runInit(quoted(root.path() / "plain"));
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
// Windows: one the add writes in place gets one line saying it is ready, one
// it cannot write a line naming --convert, a damaged one a line saying why.
TEST_P(InitOnAccessTest, LeavesTheAccessFileAsItIs) {
    const TempDir folder;
    const fs::path database = folder.path() / "Velmora2.db";
    makeJet(database, GetParam().arguments);
    const std::string before = readFile(database);

    const InitOutcome outcome = testing::runInit(folder.path(), {}, false, false);
    EXPECT_EQ(outcome.status, GetParam().status);
    const std::vector<std::string>& said = outcome.status == 0 ? outcome.out : outcome.err;
    ASSERT_EQ(said.size(), 1U) << (said.empty() ? "" : said[0]);
    EXPECT_NE(said[0].find(GetParam().says), std::string::npos) << said[0];
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
                                 1,
                                 "--convert"},
                      AccessCase{"NoTableCD", {"--schema", "nocd"}, 1, "has no table CD"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace velmora::testing
