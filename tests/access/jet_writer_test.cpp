#include "access/jet_default_value.h"
#include "access/jet_journal.h"
#include "access/jet_lock_file.h"
#include "access/jet_page_file.h"
#include "access/jet_reader.h"
#include "access/jet_writer.h"
#include "catalogue/copy/descriptor.h"
#include "tests/support/jet_fixture.h"
#include "tests/support/temp_collection.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <ostream>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace velmora::testing {
namespace {

namespace fs = std::filesystem;
using jet::JetWriteError;
using Kind = JetWriteError::Kind;

constexpr const char* kName = "Velmora2.db";

struct Folder {
    int fd;
    explicit Folder(const fs::path& path) : fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY)) {}
    ~Folder() { ::close(fd); }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
};

// Every row of CD through our reader, each value as "type:value", by column.
using Rows = std::vector<std::map<std::string, std::string>>;
Rows readCd(const fs::path& path) {
    jet::JetReader reader(path.string());
    const auto& tables = reader.tables();
    const auto cd = std::find_if(tables.begin(), tables.end(), [](const jet::Table& t) {
        return t.name == "CD" || t.name == "cd";
    });
    EXPECT_NE(cd, tables.end());
    Rows rows;
    reader.readRows(static_cast<std::size_t>(cd - tables.begin()), [&](auto values) {
        std::map<std::string, std::string> row;
        for (std::size_t i = 0; i < values.size(); ++i) {
            const jet::Value& v = values[i];
            row[cd->columns[i].name] = v.type == jet::Value::Type::Null ? "NULL"
                                       : v.type == jet::Value::Type::Integer
                                           ? "i:" + std::to_string(v.integer)
                                       : v.type == jet::Value::Type::Text ? "t:" + v.bytes
                                                                          : "?";
        }
        rows.push_back(std::move(row));
    });
    return rows;
}

// The three values an add names, owned.
struct Entry {
    std::string kategorija;
    std::string program;
    std::string opis;
    jet::CatalogueRow row() const { return {kategorija, program, opis}; }
};

struct InsertCase {
    const char* name;
    std::vector<std::string> fixture;
    Entry entry;
    std::map<std::string, std::string> expected; // what the new row holds beyond the three
    int adds = 1;
    friend void PrintTo(const InsertCase& c, std::ostream* out) { *out << c.name; }
};

class JetInsertTest : public ::testing::TestWithParam<InsertCase> {};

// The new rows are there with the values given and the defaults, the old rows
// unchanged, and the pages whole: usage maps, row count and every index tree.
TEST_P(JetInsertTest, AddsTheRowAndKeepsThePagesWhole) {
    const InsertCase& c = GetParam();
    const TempDir folder;
    const fs::path file = folder.path() / kName;
    makeJet(file, c.fixture);
    Rows expected = readCd(file);
    const Folder dir(folder.path());
    for (int i = 0; i < c.adds; ++i) {
        const jet::JetInsertResult result = jet::insertCatalogueRow(dir.fd, kName, c.entry.row());
        EXPECT_EQ(result.rowCount, expected.size() + 1);
        auto added = expected.empty() ? std::map<std::string, std::string>{} : expected.back();
        for (auto& [column, value] : added) {
            value = "NULL";
        }
        for (const auto& [column, value] : c.expected) {
            added[column] = value;
        }
        for (const auto& given : {std::pair{"Kategorija", &c.entry.kategorija},
                                  {"Program", &c.entry.program},
                                  {"Opis", &c.entry.opis}}) {
            const auto named = std::find_if(added.begin(), added.end(), [&](const auto& kv) {
                return strcasecmp(kv.first.c_str(), given.first) == 0;
            });
            ASSERT_NE(named, added.end());
            named->second = "t:" + *given.second;
        }
        if (result.autonumber) {
            added["ID"] = "i:" + std::to_string(*result.autonumber);
        }
        expected.push_back(added);
    }
    Rows after = readCd(file);
    // Date() and Now() give the day of the add (the fixtures' dates are older).
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char today[16];
    std::strftime(today, sizeof today, "t:%Y-%m-%d", &local);
    for (auto& row : after) {
        for (const char* column : {"Dodano", "Datum"}) {
            if (row.count(column) && row[column].rfind(today, 0) == 0) {
                row[column] = "t:today";
            }
        }
    }
    std::sort(expected.begin(), expected.end());
    std::sort(after.begin(), after.end());
    EXPECT_EQ(after, expected);
    EXPECT_EQ(jetPageFaults(file), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(folder.path() / jet::journalName(kName)));
}

const Entry kPlain{"CDDVD", "Alat", "Mali alat"};

INSTANTIATE_TEST_SUITE_P(
    Catalogues, JetInsertTest,
    ::testing::Values(
        InsertCase{"ThreeTextColumns", {"--schema", "basic"}, kPlain, {}},
        InsertCase{
            "CompressedAndWideText", {"--schema", "basic"}, {"Ā Ѐ", "Emoji 😀 čćž", "日本語"}, {}},
        InsertCase{"OtherLetterCase", {"--schema", "case"}, kPlain, {}},
        InsertCase{"AutonumberMemoOnItsPage",
                   {"--schema", "rich"},
                   {"CDDVD", "Alat", "čćžšđ čćžšđ čćžšđ čćžšđ čćžšđ čćžšđ čćžšđ čćžšđ"},
                   {}},
        InsertCase{"MemoOverSeveralPages",
                   {"--schema", "rich"},
                   {"CDDVD", "Alat", std::string(5000, 'x') + "ž"},
                   {}},
        InsertCase{
            "DefaultsAndThreeIndexes",
            {"--schema", "indexed"},
            kPlain,
            {{"Ocjena", "i:3"}, {"Status", "t:novo"}, {"Dodano", "t:today"}, {"Datum", "t:today"}}},
        // Thousands of rows: the primary key and Dodano span many leaves.
        InsertCase{
            "ManyLeaves",
            {"--schema", "indexed", "--rows", "3000"},
            kPlain,
            {{"Ocjena", "i:3"}, {"Status", "t:novo"}, {"Dodano", "t:today"}, {"Datum", "t:today"}}},
        // The primary key's only leaf fills up (its entries share a prefix
        // once rewritten, so it takes some 200 more) and splits under a new root.
        InsertCase{
            "FullRootLeafSplits",
            {"--schema", "indexed", "--rows", "389"},
            kPlain,
            {{"Ocjena", "i:3"}, {"Status", "t:novo"}, {"Dodano", "t:today"}, {"Datum", "t:today"}},
            210},
        InsertCase{
            "NearlyFullLastDataPage",
            {"--schema", "indexed", "--last-page-free", "30"},
            kPlain,
            {{"Ocjena", "i:3"}, {"Status", "t:novo"}, {"Dodano", "t:today"}, {"Datum", "t:today"}}},
        // Past 512 pages the maps list bitmap pages of their own.
        InsertCase{"MapsOfMapPages", {"--schema", "rich", "--rows", "14000"}, kPlain, {}},
        // The new page lies past the reach of the map of free pages, or the
        // map reaches no page at all: it grows to reach every page in use.
        InsertCase{
            "FreePageMapEndsAtTheFile",
            {"--schema", "indexed", "--last-page-free", "30", "--free-page-map", "inline-short"},
            kPlain,
            {{"Ocjena", "i:3"}, {"Status", "t:novo"}, {"Dodano", "t:today"}, {"Datum", "t:today"}}},
        InsertCase{"FreePageMapWithoutBitmapPages",
                   {"--schema", "indexed", "--last-page-free", "30", "--free-page-map", "unmapped"},
                   kPlain,
                   {{"Ocjena", "i:3"},
                    {"Status", "t:novo"},
                    {"Dodano", "t:today"},
                    {"Datum", "t:today"}}}),
    [](const auto& info) { return std::string(info.param.name); });

struct RefusalCase {
    const char* name;
    std::vector<std::string> fixture;
    Entry entry;
    Kind kind;
    std::int32_t number;
    const char* names; // what the one line must name
    bool pointsToConvert = true;
    friend void PrintTo(const RefusalCase& c, std::ostream* out) { *out << c.name; }
};

class JetRefusalTest : public ::testing::TestWithParam<RefusalCase> {};

// What the writer cannot do, or the engine would not, is refused in one line
// before anything is written: the file stays byte for byte, no journal.
TEST_P(JetRefusalTest, RefusesBeforeWritingAnything) {
    const RefusalCase& c = GetParam();
    const TempDir folder;
    const fs::path file = folder.path() / kName;
    makeJet(file, c.fixture);
    const std::string before = readFile(file);
    const Folder dir(folder.path());
    try {
        jet::insertCatalogueRow(dir.fd, kName, c.entry.row());
        ADD_FAILURE() << "the row was added";
    } catch (const JetWriteError& error) {
        EXPECT_EQ(error.kind(), c.kind) << error.what();
        EXPECT_EQ(error.number(), c.number) << error.what();
        const std::string text = error.what();
        EXPECT_NE(text.find(c.names), std::string::npos) << text;
        EXPECT_EQ(text.find('\n'), std::string::npos) << text;
        if (c.kind == Kind::Unsupported && c.pointsToConvert) {
            EXPECT_NE(text.find("--convert"), std::string::npos) << text;
        }
    }
    EXPECT_EQ(readFile(file), before);
    EXPECT_EQ(folderEntries(folder.path()), std::set<std::string>{kName});
}

INSTANTIATE_TEST_SUITE_P(
    Catalogues, JetRefusalTest,
    ::testing::Values(
        RefusalCase{"LongerThanTheField",
                    {"--schema", "indexed"},
                    {"CDDVD", "Jedanaest z", "Opis"},
                    Kind::Rejected,
                    jet::kJetFieldTooSmall,
                    "Program"},
        RefusalCase{"EmptyWhereZeroLengthIsNotAllowed",
                    {"--schema", "indexed", "--prop", "Opis:AllowZeroLength=no"},
                    {"CDDVD", "Alat", ""},
                    Kind::Rejected,
                    jet::kJetZeroLengthString,
                    "Opis"},
        RefusalCase{"RequiredColumnLeftEmpty",
                    {"--schema", "indexed", "--prop", "Napomena:Required=yes"},
                    kPlain,
                    Kind::Rejected,
                    jet::kJetRequiredIsNull,
                    "Napomena"},
        RefusalCase{"DuplicateKeyInAUniqueIndex",
                    {"--schema", "indexed", "--prop", "Broj:DefaultValue=1000"},
                    kPlain,
                    Kind::Rejected,
                    jet::kJetDuplicateKey,
                    "Broj"},
        RefusalCase{
            "TextKeyedIndexInAnotherSortOrder",
            {"--schema", "indexed", "--index", "Napomene:Napomena", "--sort-order", "1050.0"},
            kPlain,
            Kind::Unsupported,
            jet::kJetCannotWriteInPlace,
            "Napomena, whose keys follow the sort order 1050"},
        RefusalCase{"TextKeyWithoutMeasuredWeights",
                    {"--schema", "basic", "--no-samples", "--index", "Programi:Program"},
                    {"CDDVD", "\xE3\x81\x98", "Opis"},
                    Kind::Unsupported,
                    jet::kJetCannotWriteInPlace,
                    "U+3058"},
        RefusalCase{"ValidationRuleOutsideWhatTheAddEvaluates",
                    {"--schema", "indexed", "--prop", "Opis:ValidationRule=Len([Opis])>Rnd()"},
                    kPlain,
                    Kind::Unsupported,
                    jet::kJetCannotWriteInPlace,
                    "Len([Opis])>Rnd() on CD.Opis"},
        RefusalCase{"ColumnRuleBrokenWithoutItsText",
                    {"--schema", "indexed", "--prop", "Opis:ValidationRule=Len([Opis])>30"},
                    kPlain,
                    Kind::Rejected,
                    jet::kJetValidationRule,
                    "validation rule 'Len([Opis])>30' set for 'CD.Opis'"},
        RefusalCase{"TableRuleBrokenWithItsText",
                    {"--schema", "indexed", "--table-prop",
                     "ValidationRule=[Kategorija] In (\"Igre\",\"Internet\")", "--table-prop",
                     "ValidationText=Nepoznata kategorija"},
                    kPlain,
                    Kind::Rejected,
                    jet::kJetValidationText,
                    "Nepoznata kategorija"},
        RefusalCase{"DefaultItCannotEvaluate",
                    {"--schema", "indexed", "--prop", "Napomena:DefaultValue=DMax(\"ID\",\"CD\")"},
                    kPlain,
                    Kind::Unsupported,
                    jet::kJetCannotWriteInPlace,
                    "Text column Napomena with the default value DMax"},
        RefusalCase{
            "ManySideWithoutItsRelatedRecord",
            {"--schema", "indexed", "--relationship", "many", "--prop", "Broj:DefaultValue=4"},
            kPlain,
            Kind::Rejected,
            jet::kJetRelatedRecordRequired,
            "required in table 'Kategorije' (CD holds 4"},
        RefusalCase{"CdIsAQuery",
                    {"--cd-object", "query"},
                    kPlain,
                    Kind::Unsupported,
                    jet::kJetCannotWriteInPlace,
                    "CD in Velmora2.db is a query"},
        RefusalCase{"CdIsALinkedTable",
                    {"--cd-object", "linked:C:\\Zbirka\\Velmora2.mdb"},
                    kPlain,
                    Kind::Unsupported,
                    jet::kJetCannotWriteInPlace,
                    "CD in Velmora2.db is a linked table (in C:\\Zbirka\\Velmora2.mdb)"},
        RefusalCase{
            "Jet3", {"--jet3"}, kPlain, Kind::Unsupported, jet::kJetCannotWriteInPlace, "Jet 3"},
        RefusalCase{"Encrypted",
                    {"--encrypt", "0x1234"},
                    kPlain,
                    Kind::Unsupported,
                    jet::kJetCannotWriteInPlace,
                    "encrypted",
                    false}, // the conversion cannot read it either
        RefusalCase{
            "NoTableCd", {"--schema", "nocd"}, kPlain, Kind::Damaged, jet::kJetNoSuchTable, "CD"}),
    [](const auto& info) { return std::string(info.param.name); });

// In a unique text index, values that differ only in letter case are one key:
// the second is refused, naming the index and the value, and nothing is
// written; one that differs in an accent is another key.
TEST(JetTextIndex, RefusesAValueThatDiffersOnlyInCase) {
    const TempDir folder;
    const fs::path file = folder.path() / kName;
    makeJet(file, {"--schema", "basic", "--no-samples", "--index", "Programi:Program:unique"});
    const Folder dir(folder.path());
    jet::insertCatalogueRow(dir.fd, kName, Entry{"Alati", "Total Commander", "a"}.row());
    const std::string before = readFile(file);
    try {
        jet::insertCatalogueRow(dir.fd, kName, Entry{"Alati", "TOTAL COMMANDER", "b"}.row());
        ADD_FAILURE() << "the row was added";
    } catch (const JetWriteError& error) {
        EXPECT_EQ(error.number(), jet::kJetDuplicateKey);
        const std::string text = error.what();
        EXPECT_NE(text.find("Programi"), std::string::npos) << text;
        EXPECT_NE(text.find("TOTAL COMMANDER"), std::string::npos) << text;
    }
    EXPECT_EQ(readFile(file), before);
    jet::insertCatalogueRow(dir.fd, kName, Entry{"Alati", "Total Commandér", "c"}.row());
    EXPECT_EQ(readCd(file).size(), 2U);
    EXPECT_EQ(jetPageFaults(file), std::vector<std::string>{});
}

// A damaged catalogue: its pages zeroed, copied over their neighbour (index
// pages then point at each other), swapped, single bits flipped, the row
// count at its limits. The add either refuses in one line with the file
// byte for byte as it was, or adds without a fault the page checker did not
// already find; it never crashes, hangs or prints. The counts by outcome
// are printed for the record.
class DamagedCatalogueSweep : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(DamagedCatalogueSweep, RefusesInOneLineOrAddsWithoutNewFaults) {
    const TempDir folder;
    const fs::path file = folder.path() / kName;
    makeJet(file, GetParam());
    const std::string pristine = readFile(file);
    constexpr std::size_t kPage = 4096;
    const std::size_t pages = pristine.size() / kPage;
    std::vector<std::pair<std::string, std::string>> damaged; // what, bytes
    const auto page = [&](std::string& bytes, std::size_t n) {
        return bytes.begin() + static_cast<std::ptrdiff_t>(n * kPage);
    };
    for (std::size_t n = 1; n < pages; ++n) {
        std::string zeroed = pristine;
        std::fill_n(page(zeroed, n), kPage, '\0');
        damaged.emplace_back("page " + std::to_string(n) + " zeroed", zeroed);
        if (n + 1 < pages) {
            std::string copied = pristine;
            std::copy_n(page(copied, n), kPage, page(copied, n + 1));
            damaged.emplace_back("page " + std::to_string(n) + " over the next", copied);
            std::string swapped = pristine;
            std::swap_ranges(page(swapped, n), page(swapped, n) + kPage, page(swapped, n + 1));
            damaged.emplace_back("pages " + std::to_string(n) + " swapped", swapped);
        }
    }
    std::uint64_t seed = 0x9E3779B97F4A7C15ULL;
    for (int i = 0; i < 30; ++i) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        const std::size_t at = kPage + (seed >> 20) % (pristine.size() - kPage);
        std::string flipped = pristine;
        flipped[at] = static_cast<char>(flipped[at] ^ (1 << ((seed >> 8) % 8)));
        damaged.emplace_back("bit flipped at " + std::to_string(at), flipped);
    }
    for (const std::uint32_t count : {0xFFFFFFFFU, 0x7FFFFFFFU, 0U}) {
        std::string counted = pristine;
        const std::uint32_t cd = 3; // the fixture's table CD is defined on page 3
        for (std::size_t k = 0; k < 4; ++k) {
            counted[cd * kPage + 16 + k] = static_cast<char>(count >> (8 * k));
        }
        damaged.emplace_back("row count " + std::to_string(count), counted);
    }
    const Folder dir(folder.path());
    std::map<std::string, int> outcomes;
    for (const auto& [what, bytes] : damaged) {
        writeFile(file, bytes);
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        std::string outcome = "added";
        try {
            jet::insertCatalogueRow(dir.fd, kName, kPlain.row());
        } catch (const JetWriteError& error) {
            const std::string text = error.what();
            EXPECT_EQ(text.find('\n'), std::string::npos) << what << ": " << text;
            EXPECT_EQ(readFile(file), bytes) << what << ": " << text;
            outcome = text.substr(0, text.find(':', text.find("damaged") + 8));
        }
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "") << what;
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << what;
        EXPECT_EQ(folderEntries(folder.path()), std::set<std::string>{kName}) << what;
        const std::vector<std::string> faults =
            outcome == "added" ? jetPageFaults(file) : std::vector<std::string>{};
        if (!faults.empty()) {
            // Damage the add does not rely on may stay; it must add none.
            const fs::path before = folder.path() / "before";
            writeFile(before, bytes);
            const std::vector<std::string> faultsBefore = jetPageFaults(before);
            fs::remove(before);
            // Counts change with the new row: faults compare by their words.
            const auto words = [](std::string fault) {
                std::string out;
                for (const char c : fault) {
                    if (!std::isdigit(static_cast<unsigned char>(c)) || out.empty() ||
                        out.back() != '#') {
                        out += std::isdigit(static_cast<unsigned char>(c)) ? '#' : c;
                    }
                }
                return out.substr(0, out.find(" ("));
            };
            std::set<std::string> known;
            for (const std::string& fault : faultsBefore) {
                known.insert(words(fault));
            }
            for (const std::string& fault : faults) {
                EXPECT_EQ(known.count(words(fault)), 1U) << what << ": the add left " << fault;
            }
            outcome = "added to a file already faulty";
        }
        ++outcomes[outcome];
    }
    for (const auto& [outcome, count] : outcomes) {
        std::cout << count << "\t" << outcome << "\n";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Catalogues, DamagedCatalogueSweep,
    ::testing::Values(std::vector<std::string>{"--schema", "basic"},
                      std::vector<std::string>{"--schema", "indexed", "--rows", "200"},
                      std::vector<std::string>{"--schema", "rich", "--rows", "100"}));

// An add cut short after pages changed is undone at the next open: the file
// is again byte for byte what it was, and the journal is gone.
TEST(JetJournal, RollsBackAnInterruptedAdd) {
    const TempDir folder;
    const fs::path file = folder.path() / kName;
    makeJet(file, {"--schema", "indexed", "--last-page-free", "30"}); // the row needs a new page
    const std::string before = readFile(file);
    interruptAdd(folder.path());
    ASSERT_GT(readFile(file).size(), before.size());

    const Folder dir(folder.path());
    EXPECT_TRUE(jet::recoverInterruptedInsert(dir.fd, kName));
    EXPECT_EQ(readFile(file), before);
    EXPECT_EQ(folderEntries(folder.path()), std::set<std::string>{kName});
    EXPECT_FALSE(jet::recoverInterruptedInsert(dir.fd, kName));
}

struct JournalCase {
    const char* name;
    // Leaves something named `journal` beside the catalogue.
    void (*leave)(const fs::path& folder, const fs::path& journal);
    bool refused;          // the add refuses (and leaves it)
    bool stays;            // the thing is still there afterwards
    bool oldName = false;  // named as an earlier version (and SQLite) named journals
    const char* says = ""; // what the refusal's one line names
    friend void PrintTo(const JournalCase& c, std::ostream* out) { *out << c.name; }
};

class JetJournalTest : public ::testing::TestWithParam<JournalCase> {};

// A journal cut short was written before the catalogue changed: it goes, and
// the add proceeds. A journal is rolled back only onto the very state its add
// left; anything else of its name is refused in one line, without waiting on
// it, and kept with the file as it was. Under the old name only our contents
// count: SQLite's journal there is not ours, and no obstacle.
TEST_P(JetJournalTest, OnlyAJournalOfOursIsRolledBackOrRemoved) {
    const JournalCase& c = GetParam();
    const TempDir folder;
    const fs::path file = folder.path() / kName;
    const fs::path journal =
        folder.path() / (c.oldName ? jet::legacyJournalName(kName) : jet::journalName(kName));
    makeJet(file, {"--schema", "rich"});
    c.leave(folder.path(), journal);
    const std::string before = readFile(file);
    const std::size_t rows = readCd(file).size();
    const Folder dir(folder.path());
    if (c.refused) {
        try {
            jet::insertCatalogueRow(dir.fd, kName, kPlain.row());
            ADD_FAILURE() << "the row was added";
        } catch (const JetWriteError& error) {
            const std::string text = error.what();
            EXPECT_NE(text.find(c.says), std::string::npos) << text;
            EXPECT_EQ(text.find('\n'), std::string::npos) << text;
        }
        EXPECT_EQ(readFile(file), before);
    } else {
        jet::insertCatalogueRow(dir.fd, kName, kPlain.row());
        EXPECT_EQ(readCd(file).size(), rows + 1);
    }
    EXPECT_EQ(fs::exists(fs::symlink_status(journal)), c.stays);
}

// Hides the journal of an interrupted add while `act` runs.
template <typename Act> void asideJournal(const fs::path& journal, Act act) {
    const fs::path aside = journal.parent_path().parent_path() / "aside";
    fs::rename(journal, aside);
    act();
    fs::rename(aside, journal);
}

// Another program adds `rows` rows to a file an add was cut off in.
void addedSince(const fs::path& folder, const fs::path& journal, int rows) {
    interruptAdd(folder);
    asideJournal(journal, [&] {
        const Folder dir(folder);
        for (int i = 0; i < rows; ++i) {
            jet::insertCatalogueRow(dir.fd, kName, {"CDDVD", "Drugi " + std::to_string(i), "x"});
        }
    });
}

INSTANTIATE_TEST_SUITE_P(
    Leftovers, JetJournalTest,
    ::testing::Values(
        JournalCase{"TornJournal",
                    [](const fs::path&, const fs::path& journal) {
                        writeFile(journal, "Velmora2 Jet page journal 2\n\x10\x00");
                    },
                    false, false},
        JournalCase{"EmptyJournal",
                    [](const fs::path&, const fs::path& journal) { writeFile(journal, ""); }, false,
                    false},
        JournalCase{
            "SomeoneElsesFile",
            [](const fs::path&, const fs::path& journal) { writeFile(journal, "not a journal"); },
            true, true, false, "move it away"},
        JournalCase{"SymbolicLink",
                    [](const fs::path& folder, const fs::path& journal) {
                        writeFile(folder / "elsewhere", "Velmora2 Jet");
                        fs::create_symlink("elsewhere", journal);
                    },
                    true, true, false, "move it away"},
        JournalCase{"Fifo",
                    [](const fs::path&, const fs::path& journal) {
                        ASSERT_EQ(::mkfifo(journal.c_str(), 0600), 0);
                    },
                    true, true, false, "not a journal"},
        JournalCase{"FifoOfTheOldName",
                    [](const fs::path&, const fs::path& journal) {
                        ASSERT_EQ(::mkfifo(journal.c_str(), 0600), 0);
                    },
                    false, true, true},
        JournalCase{"SqlitesJournalOfTheOldName",
                    [](const fs::path&, const fs::path& journal) {
                        writeFile(journal, std::string("\xd9\xd5\x05\xf9\x20\xa1\x63\xd7", 8) +
                                               std::string(504, '\0'));
                    },
                    false, true, true},
        JournalCase{
            "OneRowAddedByAnotherProgramSince",
            [](const fs::path& folder, const fs::path& journal) { addedSince(folder, journal, 1); },
            true, true, false, "changed by another program"},
        JournalCase{"TwentyRowsAddedByAnotherProgramSince",
                    [](const fs::path& folder, const fs::path& journal) {
                        addedSince(folder, journal, 20);
                    },
                    true, true, false, "changed by another program"},
        JournalCase{"JournalOfAnotherCatalogue",
                    [](const fs::path& folder, const fs::path& journal) {
                        const TempDir other;
                        makeJet(other.path() / kName, {"--schema", "rich", "--rows", "3000"});
                        interruptAdd(other.path());
                        fs::copy_file(other.path() / jet::journalName(kName), journal);
                        (void)folder;
                    },
                    true, true, false, "belongs to another file"},
        JournalCase{"FullLengthJournalFailingItsChecksum",
                    [](const fs::path& folder, const fs::path& journal) {
                        interruptAdd(folder);
                        std::string bytes = readFile(journal);
                        bytes[bytes.size() / 2] ^= 0x01;
                        fs::remove(journal);
                        writeFile(journal, bytes);
                    },
                    true, true, false, "damaged"}),
    [](const auto& info) { return std::string(info.param.name); });

struct SharedCase {
    const char* name;
    bool lockFile;       // a Velmora2.ldb with ACCESS-PC's entry lies beside the catalogue
    bool userLock;       // ... and ACCESS-PC holds its user lock: the file is open there
    const char* refusal; // the one line, or "" when the row goes in
    friend void PrintTo(const SharedCase& c, std::ostream* out) { *out << c.name; }
};

class JetSharedTest : public ::testing::TestWithParam<SharedCase> {};

// Another program that has the catalogue open holds a user lock in its lock
// file: the add waits briefly, then refuses, naming the computer, with
// nothing written. A lock file without a lock held is a leftover and no
// obstacle; one the add made is removed after it, one it found is not.
TEST_P(JetSharedTest, RefusesOnlyWhileAnotherProgramHasTheFileOpen) {
    const SharedCase& c = GetParam();
    const TempDir folder;
    const fs::path file = folder.path() / kName;
    const fs::path ldb = folder.path() / "Velmora2.ldb";
    makeJet(file, {"--schema", "rich"});
    std::string entry(64, '\0');
    entry.replace(0, 9, "ACCESS-PC");
    entry.replace(32, 5, "Admin");
    if (c.lockFile) {
        writeFile(ldb, entry);
    }
    const Descriptor other(FileSystem::real(), ::open(ldb.c_str(), O_RDWR));
    if (c.userLock) {
        struct flock user {};
        user.l_type = F_WRLCK;
        user.l_whence = SEEK_SET;
        user.l_start = 0x10000001;
        user.l_len = 1;
        ASSERT_EQ(::fcntl(other.get(), F_OFD_SETLK, &user), 0);
    }
    const std::string before = readFile(file);
    const Folder dir(folder.path());
    if (*c.refusal != '\0') {
        try {
            jet::insertCatalogueRow(dir.fd, kName, kPlain.row());
            ADD_FAILURE() << "the row was added";
        } catch (const JetWriteError& error) {
            EXPECT_EQ(error.kind(), Kind::InUse);
            EXPECT_EQ(std::string(error.what()), c.refusal);
        }
        EXPECT_EQ(readFile(file), before);
    } else {
        jet::insertCatalogueRow(dir.fd, kName, kPlain.row());
        EXPECT_EQ(readCd(file).size(), 15U);
    }
    EXPECT_EQ(fs::exists(ldb), c.lockFile);
}

INSTANTIATE_TEST_SUITE_P(
    OtherPrograms, JetSharedTest,
    ::testing::Values(SharedCase{"NoLockFile", false, false, ""},
                      SharedCase{"LeftoverLockFile", true, false, ""},
                      SharedCase{"OpenInAccess", true, true,
                                 "Velmora2.db is open in ACCESS-PC; close it there and add again"}),
    [](const auto& info) { return std::string(info.param.name); });

// While an add holds the catalogue, other programs see a user of it: a user
// lock on the lock file and the catalogue, and an entry naming this computer.
TEST(JetLockFile, OthersSeeTheAddAsAUser) {
    const TempDir folder;
    makeJet(folder.path() / kName, {"--schema", "rich"});
    const Folder dir(folder.path());
    const Descriptor catalogue(FileSystem::real(), ::open((folder.path() / kName).c_str(), O_RDWR));
    const jet::JetLockFile ours(dir.fd, kName, catalogue.get(), std::chrono::milliseconds(0));
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    for (const char* name : {"Velmora2.ldb", kName}) {
        const Descriptor other(FileSystem::real(), ::open((folder.path() / name).c_str(), O_RDWR));
        struct flock probe {};
        probe.l_type = F_WRLCK;
        probe.l_whence = SEEK_SET;
        probe.l_start = 0x10000001;
        probe.l_len = 255;
        ASSERT_EQ(::fcntl(other.get(), F_OFD_GETLK, &probe), 0);
        EXPECT_NE(probe.l_type, F_UNLCK) << name;
    }
    const std::string entry = readFile(folder.path() / "Velmora2.ldb");
    ASSERT_GE(entry.size(), 64U);
    EXPECT_EQ(strncasecmp(entry.c_str(), host, std::strlen(entry.c_str())), 0) << entry.c_str();
}

// Velmora2.db that is a link is not followed; its target stays as it was.
TEST(JetWriter, DoesNotFollowALinkedCatalogue) {
    const TempDir folder;
    makeJet(folder.path() / "real.db", {"--schema", "rich"});
    const std::string before = readFile(folder.path() / "real.db");
    fs::create_symlink("real.db", folder.path() / kName);
    const Folder dir(folder.path());
    EXPECT_THROW(jet::insertCatalogueRow(dir.fd, kName, kPlain.row()), JetWriteError);
    EXPECT_EQ(readFile(folder.path() / "real.db"), before);
}

struct DefaultCase {
    const char* name;
    unsigned type;
    unsigned length; // bytes, for text
    const char* expression;
    const char* expected; // the field's bytes in hex, "NULL", "Yes", "No", or "refused"
    unsigned precision = 0;
    unsigned scale = 0;
    friend void PrintTo(const DefaultCase& c, std::ostream* out) { *out << c.name; }
};

class DefaultValueTest : public ::testing::TestWithParam<DefaultCase> {};

// The defaults the add evaluates as the engine would; any other expression,
// or a value that does not fit the column, is refused.
TEST_P(DefaultValueTest, GivesTheEnginesValueOrRefuses) {
    const DefaultCase& c = GetParam();
    jet::ColumnDefinition column;
    column.name = "X";
    column.type = c.type;
    column.length = c.length;
    column.miscFlags = 0x01; // compressible text
    column.decimalPrecision = c.precision;
    column.decimalScale = c.scale;
    std::tm noon{};
    noon.tm_year = 2024 - 1900;
    noon.tm_mon = 2;
    noon.tm_mday = 1;
    noon.tm_hour = 12;
    noon.tm_isdst = -1;
    const auto value = jet::evaluateDefault(column, c.expression, std::mktime(&noon));
    std::string got = "refused";
    if (value && value->null) {
        got = "NULL";
    } else if (value && c.type == jet::kBoolean) {
        got = value->boolean ? "Yes" : "No";
    } else if (value) {
        got.clear();
        for (const unsigned char b : value->bytes) {
            static constexpr char kHex[] = "0123456789abcdef";
            got += kHex[b >> 4];
            got += kHex[b & 15];
        }
    }
    EXPECT_EQ(got, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Expressions, DefaultValueTest,
    ::testing::Values(
        DefaultCase{"Long", jet::kLong, 4, "0", "00000000"},
        DefaultCase{"IntegerWithEquals", jet::kInteger, 2, "=3", "0300"},
        DefaultCase{"IntegerOutOfRange", jet::kInteger, 2, "70000", "refused"},
        DefaultCase{"ByteNegative", jet::kByte, 1, "-1", "refused"},
        // Whole numbers round halves to even, as the engine converts.
        DefaultCase{"LongHalfRoundsToEven", jet::kLong, 4, "2.5", "02000000"},
        DefaultCase{"CurrencyExact", jet::kCurrency, 8, "1.5", "983a000000000000"},
        DefaultCase{"Double", jet::kDouble, 8, "2.5", "0000000000000440"},
        DefaultCase{"QuotedText", jet::kText, 20, "\"novo\"", "fffe6e6f766f"},
        DefaultCase{"DoubledQuote", jet::kText, 20, "'It''s'", "fffe49742773"},
        DefaultCase{"NumberAsText", jet::kText, 20, "0", "3000"},
        DefaultCase{"TextTooLong", jet::kText, 4, "\"abc\"", "refused"},
        DefaultCase{"MemoText", jet::kMemo, 0, "\"abc\"", "fffe616263"},
        DefaultCase{"TextExpression", jet::kText, 20, "\"a\" & Left(\"bc\",1)", "61006200"},
        // A sign byte, then 32-bit words most significant first.
        DefaultCase{"Decimal", jet::kNumeric, 17, "12.5", "00000000000000000000000000e2040000", 18,
                    2},
        DefaultCase{"DecimalRoundedAtItsScale", jet::kNumeric, 17, "-0.005",
                    "8000000000000000000000000001000000", 18, 2},
        DefaultCase{"DecimalPastItsPrecision", jet::kNumeric, 17, "1000", "refused", 3, 0},
        DefaultCase{"Yes", jet::kBoolean, 1, "Yes", "Yes"},
        DefaultCase{"FalseWord", jet::kBoolean, 1, "False", "No"},
        DefaultCase{"Null", jet::kLong, 4, "Null", "NULL"},
        // 2024-03-01 is day 45352; Date() drops the time of day, Now() keeps it.
        DefaultCase{"Date", jet::kDateTime, 8, "Date()", "000000000025e640"},
        DefaultCase{"Now", jet::kDateTime, 8, "now()", "000000001025e640"},
        DefaultCase{"NowIntoText", jet::kText, 40, "Now()", "refused"},
        DefaultCase{"Function", jet::kLong, 4, "DMax(\"ID\",\"CD\")+1", "refused"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace velmora::testing
