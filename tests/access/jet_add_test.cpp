#include "access/jet_reader.h"
#include "catalogue/add_operation.h"
#include "tests/support/jet_fixture.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_collection.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace velmora::testing {
namespace {

namespace fs = std::filesystem;
using Box = RecordingWindow::Box;

// A window holding a valid entry whose two files lie in `sources`.
void fillEntry(RecordingWindow& window, const TempDir& sources,
               const std::string& opis = "Small tool", const std::string& program = "Tool") {
    writeFile(sources.path() / "setup.exe", "MZ setup bytes");
    writeFile(sources.path() / "picture.bmp", "BM picture bytes");
    window.setEntry("CDDVD", program, opis, (sources.path() / "setup.exe").string(),
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

// "Dodaj" on an Access Velmora2.db that the add does not write in place: H1
// says what the file is and how to convert it, keeping SQLite's number (26,
// SQLITE_NOTADB); H2 follows, and nothing is written.
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
        AccessCase{"Jet3",
                   {"--schema", "basic"},
                   0,
                   "Velmora2.db is an Access 97 (Jet 3) catalogue, which the add does not write "
                   "in place; convert it with velmora2-init --convert"},
        AccessCase{
            "Accdb",
            {"--accdb"},
            -1,
            "Velmora2.db is an Access 2007 or later (.accdb) catalogue; save it in Access "
            "2000 format (.mdb), then add to it or convert it with velmora2-init --convert"}),
    [](const auto& info) { return std::string(info.param.name); });

// Table CD through our reader: its definition and every row, value by column name.
struct CdTable {
    jet::Table table;
    std::vector<std::map<std::string, jet::Value>> rows;
};

CdTable readCd(const fs::path& file) {
    jet::JetReader reader(file.string());
    CdTable cd;
    for (std::size_t i = 0; i < reader.tables().size(); ++i) {
        if (reader.tables()[i].name == "CD" || reader.tables()[i].name == "cd") {
            cd.table = reader.tables()[i];
            reader.readRows(i, [&](std::span<const jet::Value> values) {
                std::map<std::string, jet::Value>& row = cd.rows.emplace_back();
                for (std::size_t k = 0; k < values.size(); ++k) {
                    row[cd.table.columns[k].name] = values[k];
                }
            });
        }
    }
    return cd;
}

std::string text(const std::map<std::string, jet::Value>& row, const std::string& column) {
    const auto found = row.find(column);
    return found == row.end()                             ? "(no column)"
           : found->second.type == jet::Value::Type::Null ? "NULL"
                                                          : found->second.bytes;
}

struct InPlaceCase {
    const char* name;
    std::vector<std::string> arguments;
    std::string program;
    std::string opis;
    // 0: the row is added; 3251: what the add cannot write, the GRESKA box with
    // that number; else the engine's refusal, in one box of its own words.
    std::int32_t refusal;
    const char* names; // what that box's text names
    friend void PrintTo(const InPlaceCase& c, std::ostream* out) { *out << c.name; }
};

class AddIntoAccessTest : public ::testing::TestWithParam<InPlaceCase> {};

// "Dodaj" on an Access (Jet 4) catalogue writes its row into the file itself:
// the old rows stay, the new one gets the three values, the next autonumber
// and every other column's default or NULL; every page keeps its invariants
// and only table CD's pages change. What the engine or the writer refuses is
// refused in the engine's words (the entry is refused, not failed); what the
// writer cannot do is the GRESKA box, then "Greška sa bazom!". Either way not
// a byte changes.
TEST_P(AddIntoAccessTest, TheRowGoesIntoTheFileOrNothingChanges) {
    const InPlaceCase& c = GetParam();
    const TempDir folder;
    fs::create_directory(folder.path() / "Programi");
    const fs::path database = folder.path() / "Velmora2.db";
    makeJet(database, c.arguments);
    const TempDir scratch;
    fs::copy_file(database, scratch.path() / "before.db");
    const CdTable before = readCd(database);

    RecordingWindow window(folder.str());
    const TempDir sources;
    fillEntry(window, sources, c.opis, c.program);
    const bool cannotWrite = c.refusal == 3251; // what the add cannot write
    EXPECT_EQ(Dodaj(window), c.refusal == 0 ? AddOutcome::Added
                             : cannotWrite  ? AddOutcome::DatabaseFailed
                                            : AddOutcome::Refused);
    EXPECT_FALSE(fs::exists(folder.path() / "Velmora2.db-vjournal"));

    if (c.refusal != 0) {
        ASSERT_EQ(window.boxes().size(), cannotWrite ? 2U : 1U);
        EXPECT_NE(window.boxes()[0].text.find(c.names), std::string::npos)
            << window.boxes()[0].text;
        if (cannotWrite) {
            const std::string number = "BROJ: " + std::to_string(c.refusal) + "\r\nOPIS: ";
            EXPECT_EQ(window.boxes()[0].text.rfind(number, 0), 0U) << window.boxes()[0].text;
            EXPECT_EQ(window.boxes()[0].title, "GRESKA");
            EXPECT_EQ(window.boxes()[1], (Box{"Greška sa bazom!", "Greška"}));
        } else {
            EXPECT_EQ(window.boxes()[0].title, "Greška");
        }
        EXPECT_EQ(readFile(database), readFile(scratch.path() / "before.db"));
        EXPECT_TRUE(fs::is_empty(folder.path() / "Programi"));
        return;
    }
    EXPECT_EQ(window.boxes(), std::vector<Box>{});
    EXPECT_EQ(jetPageFaults(database, scratch.path() / "before.db"), std::vector<std::string>{});
    const CdTable after = readCd(database);
    ASSERT_EQ(after.rows.size(), before.rows.size() + 1);
    EXPECT_EQ(after.table.recordedRows, before.table.recordedRows + 1);
    const auto added = std::find_if(after.rows.begin(), after.rows.end(), [&](const auto& row) {
        return text(row, "Program") == c.program || text(row, "program") == c.program;
    });
    ASSERT_NE(added, after.rows.end());
    std::map<std::string, jet::Value> row = *added;
    EXPECT_EQ(text(row, row.count("Opis") != 0 ? "Opis" : "OpIs"), c.opis);
    if (row.count("ID") != 0) { // the autonumber continues after the last one given
        EXPECT_EQ(row["ID"].integer, before.table.lastAutonumber + 1);
        EXPECT_EQ(after.table.lastAutonumber, before.table.lastAutonumber + 1);
    }
    if (row.count("Ocjena") != 0) { // the indexed schema's defaults
        EXPECT_EQ(row["Ocjena"].integer, 3);
        EXPECT_EQ(text(row, "Status"), "novo");
        EXPECT_NE(row["Dodano"].type, jet::Value::Type::Null);
        EXPECT_NE(row["Datum"].type, jet::Value::Type::Null);
        const bool brojGiven = std::find(c.arguments.begin(), c.arguments.end(),
                                         "Broj:DefaultValue=2") != c.arguments.end();
        if (brojGiven) {
            EXPECT_EQ(row["Broj"].integer, 2);
        } else {
            EXPECT_EQ(text(row, "Broj"), "NULL");
        }
        EXPECT_EQ(text(row, "Napomena"), "NULL");
    }
    EXPECT_EQ(readFile(folder.path() / "Programi" / c.program / "Setup.exe"), "MZ setup bytes");
}

const std::string kPlain = "Small tool";
// UCS-2 (no compression) and past 64 bytes: a long value of its own.
const std::string kLongOpis = "čćžšđ čćžšđ čćžšđ čćžšđ čćžšđ čćžšđ čćžšđ";

INSTANTIATE_TEST_SUITE_P(
    Catalogues, AddIntoAccessTest,
    ::testing::Values(
        InPlaceCase{"NoIndexes", {"--schema", "basic"}, "Tool", kPlain, 0, ""},
        InPlaceCase{"OtherLetterCase", {"--schema", "case"}, "Tool", kPlain, 0, ""},
        // The last numbers' rows were deleted in Access: the count goes on from
        // what the table records, past the deleted and moved rows.
        InPlaceCase{"AutonumberAfterDeletedRows",
                    {"--schema", "rich", "--with-deleted", "--autonumber-next", "1000000"},
                    "Tool",
                    kPlain,
                    0,
                    ""},
        InPlaceCase{"DefaultsAndIndexes", {"--schema", "indexed"}, "Tool", kLongOpis, 0, ""},
        // 401 keys fill the primary key's one leaf: it splits under a new root.
        InPlaceCase{
            "FullRootLeaf", {"--schema", "indexed", "--rows", "389"}, "Tool", kPlain, 0, ""},
        InPlaceCase{
            "ThousandsOfRows", {"--schema", "indexed", "--rows", "3000"}, "Tool", kLongOpis, 0, ""},
        InPlaceCase{"FullLastDataPage",
                    {"--schema", "indexed", "--rows", "600", "--last-page-free", "12"},
                    "Tool",
                    kPlain,
                    0,
                    ""},
        InPlaceCase{"RequiredWithDefault",
                    {"--schema", "indexed", "--prop", "Ocjena:Required=yes"},
                    "Tool",
                    kPlain,
                    0,
                    ""},
        InPlaceCase{"TextKeyedIndex",
                    {"--schema", "indexed", "--index", "Naziv:Napomena"},
                    "Tool",
                    kPlain,
                    0,
                    ""},
        InPlaceCase{"NumericIndexesInAnotherSortOrder",
                    {"--schema", "indexed", "--sort-order", "1050.0"},
                    "Tool",
                    kPlain,
                    0,
                    ""},
        InPlaceCase{"TextKeyedIndexInAnotherSortOrder",
                    {"--schema", "indexed", "--index", "Naziv:Napomena", "--sort-order", "1050.0"},
                    "Tool",
                    kPlain,
                    3251,
                    "velmora2-init --convert"},
        InPlaceCase{"ValidationRuleKept",
                    {"--schema", "indexed", "--prop", "Ocjena:ValidationRule=Between 1 And 5",
                     "--table-prop", "ValidationRule=Len([Program])<10 And [Kategorija]<>\"\""},
                    "Tool",
                    kPlain,
                    0,
                    ""},
        InPlaceCase{"ValidationRuleBroken",
                    {"--schema", "indexed", "--prop", "Ocjena:ValidationRule=>3", "--prop",
                     "Ocjena:ValidationText=Ocjena mora biti veća od 3"},
                    "Tool",
                    kPlain,
                    3316,
                    "Ocjena mora biti veća od 3"},
        InPlaceCase{
            "ValidationRuleOutsideWhatTheAddEvaluates",
            {"--schema", "indexed", "--prop", "Ocjena:ValidationRule=DCount(\"*\",\"CD\")>0"},
            "Tool",
            kPlain,
            3251,
            "DCount"},
        // A new CD row breaks no relationship whose "one" side CD is; on the
        // "many" side a Null key needs no related record.
        InPlaceCase{"OneSideOfARelationship",
                    {"--schema", "indexed", "--relationship", "one"},
                    "Tool",
                    kPlain,
                    0,
                    ""},
        InPlaceCase{"ManySideWithANullKey",
                    {"--schema", "indexed", "--relationship", "many"},
                    "Tool",
                    kPlain,
                    0,
                    ""},
        InPlaceCase{
            "ManySideWithItsRelatedRecord",
            {"--schema", "indexed", "--relationship", "many", "--prop", "Broj:DefaultValue=2"},
            "Tool",
            kPlain,
            0,
            ""},
        InPlaceCase{
            "ManySideWithoutItsRelatedRecord",
            {"--schema", "indexed", "--relationship", "many", "--prop", "Broj:DefaultValue=9"},
            "Tool",
            kPlain,
            3201,
            "'Kategorije' (CD holds 9"},
        // A text key is looked up as the engine weighs it: "CDDVD" is the
        // related table's "Cddvd".
        InPlaceCase{"ManySideByTextWithItsRelatedRecord",
                    {"--schema", "indexed", "--no-samples", "--relationship", "many-text"},
                    "Tool",
                    kPlain,
                    0,
                    ""},
        InPlaceCase{"ManySideByTextWithoutItsRelatedRecord",
                    {"--schema", "indexed", "--no-samples", "--relationship", "many-text:Status"},
                    "Tool",
                    kPlain,
                    3201,
                    "'Kategorije' (CD holds \"novo\""},
        InPlaceCase{"ManySideByTextTheSortOrderCannotWeigh",
                    {"--schema", "indexed", "--no-samples", "--relationship", "many-text:Program"},
                    "\u30C4\u30FC\u30EB",
                    kPlain,
                    3251,
                    "relationship on column Program with table Kategorije, and the sort "
                    "order's weight of U+30C4"},
        InPlaceCase{"ManySideByTextInAnotherSortOrder",
                    {"--schema", "indexed", "--no-samples", "--relationship",
                     "many-text:Kategorija:1050.0"},
                    "Tool",
                    kPlain,
                    3251,
                    "with table Kategorije, whose keys follow the sort order 1050 (version 0)"},
        InPlaceCase{"RequiredWithoutDefault",
                    {"--schema", "indexed", "--prop", "Napomena:Required=yes"},
                    "Tool",
                    kPlain,
                    3314,
                    "Napomena"},
        InPlaceCase{"DuplicateUniqueKey",
                    {"--schema", "indexed", "--prop", "Broj:DefaultValue=1000"},
                    "Tool",
                    kPlain,
                    3022,
                    "Broj"},
        InPlaceCase{"ProgramLongerThanItsField",
                    {"--schema", "indexed"},
                    "Predugo ime",
                    kPlain,
                    3163,
                    "Program"},
        InPlaceCase{"EmptyWhereZeroLengthIsNotAllowed",
                    {"--schema", "indexed", "--prop", "Opis:AllowZeroLength=no"},
                    "Tool",
                    "",
                    3315,
                    "Opis"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace velmora::testing
