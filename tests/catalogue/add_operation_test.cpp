#include "catalogue/add_operation.h"
#include "catalogue/catalogue_database.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_collection.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <sqlite3.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace velmora::testing {
namespace {

namespace fs = std::filesystem;
using Box = RecordingWindow::Box;

// A collection and two small source files, with a window holding a valid entry.
class AddOperationTest : public ::testing::Test {
protected:
    AddOperationTest() : window(collection.str()) {
        writeFile(sources.path() / "setup.exe", "MZ setup bytes");
        writeFile(sources.path() / "picture.bmp", "BM picture bytes");
        window.setEntry("CDDVD", "Tool", "Small tool", setupPath(), picturePath());
    }

    std::string setupPath() const { return (sources.path() / "setup.exe").string(); }
    std::string picturePath() const { return (sources.path() / "picture.bmp").string(); }

    // Nothing was opened: the application folder, which every path starts
    // from, was never asked for, and the collection is as it was made.
    void expectNothingTouched() const {
        EXPECT_EQ(std::count(window.reads().begin(), window.reads().end(), "folder"), 0);
        EXPECT_TRUE(collection.rows().empty());
        EXPECT_TRUE(fs::is_empty(collection.path() / "Programi"));
        EXPECT_TRUE(window.captions().empty());
    }

    TempCollection collection;
    TempDir sources;
    RecordingWindow window;
};

TEST_F(AddOperationTest, DescriptionOfFiftyCharactersIsRefusedAndFortyNineTaken) {
    // Bytes that are not UTF-8 (Windows-1250 "č", and "š", which looks like a
    // continuation byte) count one character each, as they are shown.
    for (const std::string letter : {"a", "č", "ž", "日", "\xE8", "\x9A"}) {
        SCOPED_TRACE(letter);
        RecordingWindow refused(collection.str());
        refused.setEntry("CDDVD", "Tool", repeat(letter, 50), setupPath(), picturePath());
        EXPECT_EQ(Dodaj(refused), AddOutcome::Refused);
        ASSERT_EQ(refused.boxes(),
                  (std::vector<Box>{{"Molimo skratite opis. Maksimalno 49 karaktera!", "Greška"}}));
        EXPECT_EQ(std::count(refused.reads().begin(), refused.reads().end(), "folder"), 0);
        EXPECT_TRUE(collection.rows().empty());
    }
    window.set(Field::Opis, repeat("č", 49));
    EXPECT_EQ(Dodaj(window), AddOutcome::Added);
    EXPECT_TRUE(window.boxes().empty());
    EXPECT_EQ(collection.rows(), (std::vector<Row>{{"CDDVD", "Tool", repeat("č", 49)}}));
}

TEST_F(AddOperationTest, EmptyOrBlankRequiredFieldIsRefused) {
    for (const Field field : {Field::Program, Field::Kategorija, Field::Source, Field::Slika}) {
        // Spaces of every width, zero-width and format characters, the soft
        // hyphen, the byte order mark, Hangul fillers, variation selectors.
        for (const std::string blank :
             {"", "   ", "\t \r\n", "\u00A0", "\u3000\u3000", "\u200B", "\u2060\u2064", "\uFEFF",
              "\u00AD", " \u00A0\u2007\u202F\u200B\u200D ", "\u180E", "\u3164", "\uFE0F",
              "\U000E0020"}) {
            SCOPED_TRACE(std::string(fieldName(field)) + " '" + blank + "'");
            RecordingWindow refused(collection.str());
            refused.setEntry("CDDVD", "Tool", "Small tool", setupPath(), picturePath());
            refused.set(field, blank);
            EXPECT_EQ(Dodaj(refused), AddOutcome::Refused);
            EXPECT_EQ(refused.boxes(),
                      (std::vector<Box>{{"Neko od polja nije ispunjeno!", "Greška"}}));
            EXPECT_EQ(std::count(refused.reads().begin(), refused.reads().end(), "folder"), 0);
        }
    }
    EXPECT_TRUE(collection.rows().empty());
    EXPECT_TRUE(fs::is_empty(collection.path() / "Programi"));
}

// Names that are not one folder here, or that a Windows folder cannot hold
// where the collection travels, are refused before anything is written.
TEST_F(AddOperationTest, ProgramNameThatIsNotOneFolderIsRefused) {
    for (const std::string name :
         {".", "..", "a/b", "/", "../escape", "Tool/", "a<b", "a>b", "C:Tool", "say \"hi\"", "a\\b",
          "a|b", "what?", "*.*", "tab\there", "line\nbreak", "\x1b[31mRed", "Tool.", "Tool ", "...",
          "CON", "con", "Nul.txt", "aux.tar.gz", "PRN .exe", "COM1", "com9.iso", "LPT5", "lpt1.bmp",
          "COM\u00B9", "COM0", "lpt0", "Com0.txt", "LPT0 .bmp", "lpt\u00B3.iso",
          // The console's devices, and bytes that no Windows name holds.
          "CONIN$", "conout$", "CONOUT$.txt", "Ra\xE8un", "\xFF"}) {
        SCOPED_TRACE(name);
        RecordingWindow refused(collection.str());
        refused.setEntry("CDDVD", name, "Small tool", setupPath(), picturePath());
        EXPECT_EQ(Dodaj(refused), AddOutcome::Refused);
        EXPECT_EQ(refused.boxes(), (std::vector<Box>{{"Neispravno ime programa!", "Greška"}}));
        EXPECT_EQ(std::count(refused.reads().begin(), refused.reads().end(), "folder"), 0);
    }
    expectNothingTouched();
    EXPECT_FALSE(fs::exists(collection.path() / "escape"));

    // Near misses are names like any other.
    for (const std::string name :
         {"CONSOLE", "Null", "COM10", "LPT00", "LPT", "COM-1", "con-tool", ".Tool", " Tool",
          "Tool.v2", "AUXILIARY.exe", "Čćž 日本", "CONIN", "CONOUT$2"}) {
        window.set(Field::Program, name);
        Dodaj(window);
        EXPECT_TRUE(fs::is_directory(collection.programFolder(name))) << name;
    }
    EXPECT_TRUE(window.boxes().empty());
}

TEST_F(AddOperationTest, RefusalComesBeforeLaterChecks) {
    // A long description and an empty name: the description is named first.
    window.set(Field::Opis, repeat("x", 60));
    window.set(Field::Program, "");
    Dodaj(window);
    EXPECT_EQ(window.boxes(),
              (std::vector<Box>{{"Molimo skratite opis. Maksimalno 49 karaktera!", "Greška"}}));
    expectNothingTouched();
}

TEST_F(AddOperationTest, EmptyDescriptionIsTaken) {
    window.set(Field::Opis, "");
    Dodaj(window);
    EXPECT_TRUE(window.boxes().empty());
    EXPECT_EQ(collection.rows(), (std::vector<Row>{{"CDDVD", "Tool", ""}}));
}

TEST_F(AddOperationTest, RowHoldsTheTextsExactlyAsTyped) {
    const std::vector<Row> entries = {
        {"Usluzni", "it's", "don't stop"},
        {"Say \"hi\"", "semi;colon", "a;b;c"},
        {"x'); DELETE FROM CD; --", "'); DROP TABLE CD; --", "'||'"},
        {"Ćirilica", "Програм", "描述 ĐŠŽ"},
        // Blanks around a visible letter are the user's: kept, not trimmed.
        {"\u00A0Igre ", " \u200Bx\u3000", " "},
    };
    for (const Row& entry : entries) {
        window.setEntry(entry.kategorija, entry.program, entry.opis, setupPath(), picturePath());
        Dodaj(window);
        EXPECT_TRUE(fs::is_directory(collection.programFolder(entry.program))) << entry.program;
    }
    EXPECT_TRUE(window.boxes().empty()) << window.boxes().front().text;
    EXPECT_EQ(collection.rows(), entries);
}

// On a file system whose folder names hold 255 bytes, a name of 255 bytes
// makes its folder and one of 256 is refused before anything is written, with
// letters of one byte or of several.
TEST_F(AddOperationTest, ProgramNameLongerThanOneFolderNameIsRefused) {
    if (pathconf((collection.path() / "Programi").c_str(), _PC_NAME_MAX) != 255) {
        GTEST_SKIP() << "the temporary folder's file system does not hold 255-byte names";
    }
    for (const std::string& name : {repeat("n", 255), repeat("č", 127) + "n", repeat("日", 85)}) {
        SCOPED_TRACE(name.size());
        window.set(Field::Program, name);
        Dodaj(window);
        EXPECT_TRUE(window.boxes().empty());
        EXPECT_TRUE(fs::is_regular_file(collection.programFolder(name) / "Setup.exe"));
    }
    const std::size_t stored = collection.rows().size();
    for (const std::string& name :
         {repeat("n", 256), repeat("č", 128), repeat("日", 85) + "n", repeat("n", 10000)}) {
        SCOPED_TRACE(name.size());
        RecordingWindow refused(collection.str());
        refused.setEntry("CDDVD", name, "Small tool", setupPath(), picturePath());
        EXPECT_EQ(Dodaj(refused), AddOutcome::Refused);
        EXPECT_EQ(refused.boxes(), (std::vector<Box>{{"Neispravno ime programa!", "Greška"}}));
    }
    EXPECT_EQ(collection.rows().size(), stored);
    EXPECT_EQ(folderEntries(collection.path() / "Programi").size(), 3U);
}

TEST_F(AddOperationTest, TwoAddsInARowEachCloseTheirConnection) {
    const int before = openDescriptorCount();
    Dodaj(window);
    EXPECT_EQ(openDescriptorCount(), before);
    window.set(Field::Program, "Second");
    Dodaj(window);
    EXPECT_EQ(openDescriptorCount(), before);
    EXPECT_EQ(collection.rows(), (std::vector<Row>{{"CDDVD", "Tool", "Small tool"},
                                                   {"CDDVD", "Second", "Small tool"}}));
}

TEST_F(AddOperationTest, FieldsAreReadAtTheStepsThatUseThem) {
    Dodaj(window);
    const std::vector<std::string> expected = {
        "Opis",       "Program", "Kategorija", "Source", "Slika", // checks
        "folder",                                                 // database path
        "Kategorija", "Program", "Opis",                          // the row
        "folder",     "Program",                                  // the folder
        "Slika",      "folder",  "Program",                       // the picture
        "Source",     "folder",  "Program",                       // the setup file
    };
    EXPECT_EQ(window.reads(), expected);
}

// Each database failure shows SQLite's number and message, then the database
// box, leaves no row and no folder, and leaves no handle open. A missing
// catalogue is named with its folder ("FOLDER" in the expected text) and how
// to make one.
struct DatabaseFault {
    const char* name;
    void (*arrange)(TempCollection&);
    std::string expectedFirstBox;
    friend void PrintTo(const DatabaseFault& fault, std::ostream* out) { *out << fault.name; }
};

class DatabaseFailureTest : public AddOperationTest,
                            public ::testing::WithParamInterface<DatabaseFault> {};

TEST_P(DatabaseFailureTest, ShowsNumberAndMessageThenDatabaseBox) {
    GetParam().arrange(collection);
    const bool hadDatabase = fs::exists(collection.database());
    const int before = openDescriptorCount();
    EXPECT_EQ(Dodaj(window), AddOutcome::DatabaseFailed);
    EXPECT_EQ(openDescriptorCount(), before);
    std::string firstBox = GetParam().expectedFirstBox;
    for (std::size_t at; (at = firstBox.find("FOLDER")) != std::string::npos;) {
        firstBox.replace(at, 6, collection.str());
    }
    EXPECT_EQ(window.boxes(),
              (std::vector<Box>{{firstBox, "GRESKA"}, {"Greška sa bazom!", "Greška"}}));
    EXPECT_EQ(fs::exists(collection.database()), hadDatabase);
    EXPECT_FALSE(fs::exists(collection.programFolder("Tool")));
    EXPECT_TRUE(window.captions().empty());
}

void removeDatabase(TempCollection& c) {
    fs::remove(c.database());
}
void dropTable(TempCollection& c) {
    sqlite3* raw = nullptr;
    sqlite3_open(c.database().c_str(), &raw);
    const std::unique_ptr<sqlite3, ConnectionCloser> db(raw);
    sqlite3_exec(raw, "DROP TABLE CD", nullptr, nullptr, nullptr);
}
void replaceWithText(TempCollection& c) {
    writeFile(c.database(), repeat("This is not a catalogue at all. ", 200));
}
void ignoreInserts(TempCollection& c) {
    sqlite3* raw = nullptr;
    sqlite3_open(c.database().c_str(), &raw);
    const std::unique_ptr<sqlite3, ConnectionCloser> db(raw);
    ASSERT_EQ(sqlite3_exec(
                  raw, "CREATE TRIGGER Ignore BEFORE INSERT ON CD BEGIN SELECT RAISE(IGNORE); END",
                  nullptr, nullptr, nullptr),
              SQLITE_OK);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DatabaseFailureTest,
    ::testing::Values(
        DatabaseFault{"MissingFile", &removeDatabase,
                      "BROJ: 14\r\nOPIS: FOLDER holds no catalogue (Velmora2.db); make one "
                      "with: velmora2-init FOLDER"},
        DatabaseFault{"MissingTable", &dropTable, "BROJ: 1\r\nOPIS: no such table: CD"},
        DatabaseFault{"NotADatabase", &replaceWithText, "BROJ: 26\r\nOPIS: file is not a database"},
        DatabaseFault{"TriggerIgnoresTheInsert", &ignoreInserts,
                      "BROJ: 19\r\nOPIS: the database stored no row"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AddOperationTest, DatabaseLockedLongerThanTheTimeoutFails) {
    const int before = openDescriptorCount();
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(collection.database().c_str(), &raw), SQLITE_OK);
    std::unique_ptr<sqlite3, ConnectionCloser> holder(raw);
    ASSERT_EQ(sqlite3_exec(raw, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);

    Dodaj(window);
    EXPECT_EQ(window.boxes(), (std::vector<Box>{{"BROJ: 5\r\nOPIS: database is locked", "GRESKA"},
                                                {"Greška sa bazom!", "Greška"}}));
    EXPECT_FALSE(fs::exists(collection.programFolder("Tool")));
    // SQLite keeps a closed connection's descriptor while this process holds a
    // lock on the same file (closing it would drop that lock), so count after
    // the holder is gone.
    holder.reset();
    EXPECT_EQ(openDescriptorCount(), before);
    EXPECT_TRUE(collection.rows().empty());
}

} // namespace
} // namespace velmora::testing
