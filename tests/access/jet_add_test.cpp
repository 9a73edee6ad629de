#include "catalogue/add_operation.h"
#include "tests/support/jet_fixture.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_collection.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <vector>

namespace velmora::testing {
namespace {

namespace fs = std::filesystem;
using Box = RecordingWindow::Box;

// A window holding a valid entry whose two files lie in `sources`.
void fillEntry(RecordingWindow& window, const TempDir& sources) {
    writeFile(sources.path() / "setup.exe", "MZ setup bytes");
    writeFile(sources.path() / "picture.bmp", "BM picture bytes");
    window.setEntry("CDDVD", "Tool", "Small tool", (sources.path() / "setup.exe").string(),
                    (sources.path() / "picture.bmp").string());
}

struct AddCase {
    const char* name;
    std::vector<std::string> arguments;
    std::int64_t newRowid; // the autonumber the added row gets
    friend void PrintTo(const AddCase& c, std::ostream* out) { *out << c.name; }
};

class AddAfterConversionTest : public ::testing::TestWithParam<AddCase> {};

// A converted catalogue takes the real add: the new row follows the imported
// ones, and an autonumber continues from the number Jet would have given next.
TEST_P(AddAfterConversionTest, TheRowFollowsTheImportedOnes) {
    const TempDir folder;
    const TempDir scratch;
    makeJet(folder.path() / "Velmora2.db", GetParam().arguments, scratch.path() / "expected.db");
    ASSERT_EQ(runInit(folder.path()).status, 0);
    const TableContents imported = readTables(folder.path() / "Velmora2.db").begin()->second;

    RecordingWindow window(folder.str());
    const TempDir sources;
    fillEntry(window, sources);
    Dodaj(window);
    EXPECT_EQ(window.boxes(), std::vector<Box>{});

    const TableContents after = readTables(folder.path() / "Velmora2.db").begin()->second;
    ASSERT_EQ(after.rows.size(), imported.rows.size() + 1);
    EXPECT_TRUE(std::equal(imported.rows.begin(), imported.rows.end(), after.rows.begin()));
    std::vector<std::string> added;
    for (std::size_t i = 0; i < after.columns.size(); ++i) {
        const std::string& column = after.columns[i];
        added.push_back(column == "Kategorija" || column == "KATEGORIJA" ? "t:CDDVD"
                        : column == "Program" || column == "program"     ? "t:Tool"
                        : column == "Opis" || column == "OpIs"           ? "t:Small tool"
                        : column == "ID" ? "i:" + std::to_string(GetParam().newRowid)
                                         : "NULL");
    }
    EXPECT_EQ(after.rows.back(), added);
    EXPECT_EQ(readFile(folder.path() / "Programi" / "Tool" / "Setup.exe"), "MZ setup bytes");
}

INSTANTIATE_TEST_SUITE_P(
    Catalogues, AddAfterConversionTest,
    ::testing::Values(AddCase{"Autonumber", {"--schema", "rich"}, 15},
                      // The rows that held the last numbers were deleted in Access.
                      AddCase{
                          "AutonumberAfterDeletedRows",
                          {"--schema", "rich", "--with-deleted", "--autonumber-next", "1000000"},
                          1000000},
                      AddCase{"OtherLetterCaseAndAnExtraColumn", {"--schema", "case"}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

struct AccessCase {
    const char* name;
    std::vector<std::string> arguments;
    int version; // written over the version byte at 0x14, unless negative
    const char* description;
    friend void PrintTo(const AccessCase& c, std::ostream* out) { *out << c.name; }
};

class AddToAccessCatalogueTest : public ::testing::TestWithParam<AccessCase> {};

// "Dodaj" on an Access Velmora2.db: H1 says what the file is and how to
// convert it, keeping SQLite's number (26, SQLITE_NOTADB); H2 follows, and
// nothing is written.
TEST_P(AddToAccessCatalogueTest, SaysWhatTheCatalogueIsAndWritesNothing) {
    const TempDir folder;
    fs::create_directory(folder.path() / "Programi");
    const fs::path database = folder.path() / "Velmora2.db";
    makeJet(database, GetParam().arguments);
    if (GetParam().version >= 0) {
        std::fstream file(database, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(0x14);
        file.put(static_cast<char>(GetParam().version));
    }
    const std::string before = readFile(database);

    RecordingWindow window(folder.str());
    const TempDir sources;
    fillEntry(window, sources);
    Dodaj(window);
    EXPECT_EQ(
        window.boxes(),
        (std::vector<Box>{{std::string("BROJ: 26\r\nOPIS: ") + GetParam().description, "GRESKA"},
                          {"Greška sa bazom!", "Greška"}}));
    EXPECT_EQ(readFile(database), before);
    EXPECT_TRUE(fs::is_empty(folder.path() / "Programi"));
}

INSTANTIATE_TEST_SUITE_P(
    Formats, AddToAccessCatalogueTest,
    ::testing::Values(
        AccessCase{"Jet4",
                   {"--schema", "basic"},
                   -1,
                   "Velmora2.db is an Access (Jet 4) catalogue; convert it with velmora2-init"},
        AccessCase{"Jet3",
                   {"--schema", "basic"},
                   0,
                   "Velmora2.db is an Access (Jet 3) catalogue; convert it with velmora2-init"},
        AccessCase{"Accdb",
                   {"--accdb"},
                   -1,
                   "Velmora2.db is an Access 2007 or later (.accdb) catalogue; save it in Access "
                   "2000 format (.mdb), then convert it with velmora2-init"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace velmora::testing
