#include "access/jet_default_value.h"
#include "access/jet_journal.h"
#include "access/jet_page_file.h"
#include "access/jet_reader.h"
#include "access/jet_writer.h"
#include "tests/support/jet_fixture.h"
#include "tests/support/temp_collection.h"

#include <algorithm>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <ostream>
#include <string>
#include <strings.h>
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
        InsertCase{"MapsOfMapPages", {"--schema", "rich", "--rows", "14000"}, kPlain, {}}),
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
        RefusalCase{"TextKeyedIndex",
                    {"--schema", "indexed", "--index", "Napomene:Napomena"},
                    kPlain,
                    Kind::Unsupported,
                    jet::kJetCannotWriteInPlace,
                    "Napomena"},
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

// An add cut short after pages changed is undone at the next open: the file
// is again byte for byte what it was, and the journal is gone.
TEST(JetJournal, RollsBackAnInterruptedAdd) {
    const TempDir folder;
    const fs::path file = folder.path() / kName;
    makeJet(file, {"--schema", "indexed", "--last-page-free", "30"}); // the row needs a new page
    const std::string before = readFile(file);
    const Folder dir(folder.path());
    jet::insertCatalogueRow(dir.fd, kName, kPlain.row());
    const std::string after = readFile(file);
    ASSERT_GT(after.size(), before.size());
    // The journal the add wrote before its first page changed.
    std::vector<jet::Page> pages;
    std::vector<std::pair<std::uint32_t, const jet::Page*>> originals;
    pages.reserve(before.size() / jet::kJetPageSize);
    for (std::size_t at = 0; at < before.size(); at += jet::kJetPageSize) {
        if (before.compare(at, jet::kJetPageSize, after, at, jet::kJetPageSize) != 0) {
            jet::Page& page = pages.emplace_back();
            std::copy_n(before.begin() + static_cast<std::ptrdiff_t>(at), page.size(),
                        page.begin());
            originals.emplace_back(static_cast<std::uint32_t>(at / jet::kJetPageSize), &page);
        }
    }
    ASSERT_FALSE(originals.empty());
    {
        const int fd = ::open(file.c_str(), O_RDONLY);
        jet::writeJournal(dir.fd, jet::journalName(kName), fd, before.size(), originals);
        ::close(fd);
    }

    EXPECT_TRUE(jet::recoverInterruptedInsert(dir.fd, kName));
    EXPECT_EQ(readFile(file), before);
    EXPECT_EQ(folderEntries(folder.path()), std::set<std::string>{kName});
    EXPECT_FALSE(jet::recoverInterruptedInsert(dir.fd, kName));
}

struct JournalCase {
    const char* name;
    // Leaves something named like the journal beside the catalogue.
    void (*leave)(const fs::path& folder, const fs::path& journal);
    bool refused; // the add refuses (and leaves it)
    bool stays;   // the thing is still there afterwards
    friend void PrintTo(const JournalCase& c, std::ostream* out) { *out << c.name; }
};

class JetJournalTest : public ::testing::TestWithParam<JournalCase> {};

// A journal cut short was written before the catalogue changed: it goes, and
// the add proceeds. Anything else of that name is not ours: left alone.
TEST_P(JetJournalTest, OnlyAJournalOfOursIsRolledBackOrRemoved) {
    const JournalCase& c = GetParam();
    const TempDir folder;
    const fs::path file = folder.path() / kName;
    const fs::path journal = folder.path() / jet::journalName(kName);
    makeJet(file, {"--schema", "rich"});
    const std::string before = readFile(file);
    c.leave(folder.path(), journal);
    const Folder dir(folder.path());
    if (c.refused) {
        EXPECT_THROW(jet::insertCatalogueRow(dir.fd, kName, kPlain.row()), JetWriteError);
        EXPECT_EQ(readFile(file), before);
    } else {
        jet::insertCatalogueRow(dir.fd, kName, kPlain.row());
        EXPECT_EQ(readCd(file).size(), 15U);
    }
    EXPECT_EQ(fs::exists(fs::symlink_status(journal)), c.stays);
}

INSTANTIATE_TEST_SUITE_P(
    Leftovers, JetJournalTest,
    ::testing::Values(JournalCase{"TornJournal",
                                  [](const fs::path&, const fs::path& journal) {
                                      writeFile(journal, "Velmora2 Jet page journal 1\n\x10\x00");
                                  },
                                  false, false},
                      JournalCase{
                          "EmptyJournal",
                          [](const fs::path&, const fs::path& journal) { writeFile(journal, ""); },
                          false, false},
                      JournalCase{"SomeoneElsesFile",
                                  [](const fs::path&, const fs::path& journal) {
                                      writeFile(journal, "not a journal");
                                  },
                                  true, true},
                      JournalCase{"SymbolicLink",
                                  [](const fs::path& folder, const fs::path& journal) {
                                      writeFile(folder / "elsewhere", "Velmora2 Jet");
                                      fs::create_symlink("elsewhere", journal);
                                  },
                                  true, true}),
    [](const auto& info) { return std::string(info.param.name); });

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
    column.precision = c.precision;
    column.scale = c.scale;
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
