#include "catalogue/copy/descriptor.h"
#include "cli/init/jet_conversion.h"
#include "tests/support/jet_fixture.h"
#include "tests/support/temp_collection.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace velmora::testing {
namespace {

namespace fs = std::filesystem;

const std::string kKept = "Velmora2.db is now an SQLite catalogue; the Access original is kept as ";
const std::set<std::string> kConvertedFolder = {"Programi", "Velmora2.db", "Velmora2.jet4.db"};

// A collection folder holding a Jet Velmora2.db, and what converting it must give.
class JetCollection {
public:
    explicit JetCollection(const std::vector<std::string>& arguments) {
        makeJet(database(), arguments, m_scratch.path() / "expected.db");
        m_original = readFile(database());
        m_expected = readTables(m_scratch.path() / "expected.db");
    }

    const fs::path& path() const { return m_folder.path(); }
    fs::path database() const { return path() / "Velmora2.db"; }
    const std::string& original() const { return m_original; }

    // Velmora2.db holds exactly the tables, columns and values expected.
    void expectConverted() const {
        const auto tables = readTables(database());
        ASSERT_EQ(tables.size(), m_expected.size());
        for (const auto& [name, expected] : m_expected) {
            SCOPED_TRACE(name);
            ASSERT_EQ(tables.count(name), 1U);
            EXPECT_EQ(tables.at(name).columns, expected.columns);
            ASSERT_EQ(tables.at(name).rows.size(), expected.rows.size());
            for (std::size_t i = 0; i < expected.rows.size(); ++i) {
                EXPECT_EQ(tables.at(name).rows[i], expected.rows[i]) << "row " << i;
            }
        }
    }

private:
    TempDir m_scratch;
    TempDir m_folder;
    std::string m_original;
    std::map<std::string, TableContents> m_expected;
};

struct ConversionCase {
    std::string name;
    std::vector<std::string> arguments;
    std::vector<std::string> summary;
    std::string keptAs = "Velmora2.jet4.db";
    std::vector<std::string> options = {}; // velmora2-init's, after the folder
    friend void PrintTo(const ConversionCase& c, std::ostream* out) { *out << c.name; }
};

class ConversionTest : public ::testing::TestWithParam<ConversionCase> {};

// Every table, column and row comes over value for value; the original stays
// byte for byte under its new name. MDBICONV and MDB_JET3_CHARSET, which
// change libmdb's decoding, are set and must change nothing.
TEST_P(ConversionTest, EveryTableColumnAndRowComesOverExactly) {
    const JetCollection collection(GetParam().arguments);
    const InitOutcome outcome =
        runInit(collection.path(), {"MDBICONV=ISO-8859-1", "MDB_JET3_CHARSET=CP1251"}, false,
                GetParam().options);
    ASSERT_EQ(outcome.status, 0) << (outcome.err.empty() ? "" : outcome.err[0]);
    std::vector<std::string> summary = GetParam().summary;
    summary.push_back(kKept + GetParam().keptAs);
    EXPECT_EQ(outcome.out, summary);
    EXPECT_TRUE(outcome.err.empty());
    collection.expectConverted();
    EXPECT_EQ(readFile(collection.path() / GetParam().keptAs), collection.original());
    EXPECT_EQ(folderEntries(collection.path()),
              (std::set<std::string>{"Programi", "Velmora2.db", GetParam().keptAs}));
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, ConversionTest,
    ::testing::Values(
        ConversionCase{"Basic", {"--schema", "basic"}, {"CD: 12 rows"}},
        // Memos to 20,000 characters, dates, a deleted and a reclaimed row, a
        // row moved behind an overflow pointer, a deleted catalogue row, and a
        // second table with every other column type.
        ConversionCase{"RichWithEverything",
                       {"--schema", "rich", "--with-deleted", "--second-table", "--deleted-table"},
                       {"CD: 15 rows", "Posudbe čitatelja: 5 rows"}},
        ConversionCase{
            "TenThousandRows", {"--schema", "rich", "--rows", "10000"}, {"CD: 10,014 rows"}},
        ConversionCase{"OtherLetterCaseAndAnExtraColumn", {"--schema", "case"}, {"cd: 12 rows"}},
        ConversionCase{"RecordedCountDiffersAccepted",
                       {"--schema", "rich", "--recorded-rows", "20"},
                       {"CD: 14 rows (its definition records 20)"},
                       "Velmora2.jet4.db",
                       {"--accept-missing-rows"}},
        ConversionCase{
            "AutonumberRepeats",
            {"--schema", "rich", "--duplicate-autonumber"},
            {"CD: 14 rows (ID is an ordinary column: its numbers repeat or are missing)"}},
        // Access 97: 2 KiB pages, text in the file's code page (1250), rows
        // past 256 bytes with a jump table.
        ConversionCase{
            "Jet3",
            {"--jet3", "--schema", "rich", "--with-deleted", "--deleted-table", "--rows", "300"},
            {"CD: 311 rows"},
            "Velmora2.jet3.db"}),
    [](const auto& info) { return info.param.name; });

// Every code page an Access 97 file can name, each with a column and a text
// whose last character is not ASCII: converters such as CP1255 and CP1258
// hold that character back until the end of the value.
std::vector<ConversionCase> codePageCases() {
    std::vector<ConversionCase> cases;
    for (const int codePage :
         {874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258}) {
        cases.push_back({"CodePage" + std::to_string(codePage),
                         {"--code-page", std::to_string(codePage)},
                         {"CD: 1 row"},
                         "Velmora2.jet3.db"});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Jet3CodePages, ConversionTest, ::testing::ValuesIn(codePageCases()),
                         [](const auto& info) { return info.param.name; });

// A collection reached through a link (~/Zbirka -> /media/disk/Zbirka) is
// converted: only Velmora2.db and the temporaries must not be links.
TEST(ConversionThroughLinks, AFolderReachedThroughALinkIsConverted) {
    const JetCollection collection({"--schema", "basic"});
    const TempDir home;
    fs::create_directory_symlink(collection.path(), home.path() / "Zbirka");
    const InitOutcome outcome = runInit(home.path() / "Zbirka");
    ASSERT_EQ(outcome.status, 0) << (outcome.err.empty() ? "" : outcome.err[0]);
    collection.expectConverted();
    EXPECT_EQ(readFile(collection.path() / "Velmora2.jet4.db"), collection.original());
}

TEST(ConversionKeepsTheOriginal, NeverOverATakenName) {
    const JetCollection collection({"--schema", "basic"});
    const std::string someoneElses = "not the catalogue, but someone's file";
    writeFile(collection.path() / "Velmora2.jet4.db", someoneElses);

    const InitOutcome outcome = runInit(collection.path());
    ASSERT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out.back(), "Velmora2.db is now an SQLite catalogue; the Access original is "
                                  "kept as Velmora2.jet4-2.db (Velmora2.jet4.db was taken)");
    EXPECT_EQ(readFile(collection.path() / "Velmora2.jet4.db"), someoneElses);
    EXPECT_EQ(readFile(collection.path() / "Velmora2.jet4-2.db"), collection.original());
    collection.expectConverted();
}

// An add into the Access file that was cut off is rolled back before the
// conversion reads the file: the rows are the old ones, the new one is not
// half there, and the kept original is the file as it was.
TEST(ConversionKeepsTheOriginal, AfterRollingBackAnInterruptedAdd) {
    const JetCollection collection({"--schema", "indexed", "--rows", "389"});
    interruptAdd(collection.path());
    ASSERT_TRUE(fs::exists(collection.path() / "Velmora2.db-vjournal"));

    const InitOutcome outcome = runInit(collection.path());
    ASSERT_EQ(outcome.status, 0) << (outcome.err.empty() ? "" : outcome.err[0]);
    EXPECT_EQ(outcome.out.front(), "Velmora2.db: an interrupted add was rolled back");
    collection.expectConverted();
    EXPECT_EQ(readFile(collection.path() / "Velmora2.jet4.db"), collection.original());
    EXPECT_EQ(folderEntries(collection.path()), kConvertedFolder);
}

// An add and a conversion exclude each other: the conversion holds the add's
// lock on the catalogue throughout, and replaces only a file that kept its
// length and time (another program may write it in place meanwhile).
TEST(ConversionKeepsTheOriginal, HoldsTheAddsLockAndReplacesOnlyAnUnchangedFile) {
    const JetCollection collection({"--schema", "rich"});
    bool addLocked = false;
    ConversionHooks hooks;
    hooks.afterStep = [&](ConversionStep step) {
        if (step == ConversionStep::TableWritten) {
            const Descriptor add(FileSystem::real(), open(collection.database().c_str(), O_RDWR));
            addLocked = flock(add.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        }
        if (step == ConversionStep::OriginalKept) {
            const Descriptor other(FileSystem::real(),
                                   open(collection.database().c_str(), O_WRONLY | O_APPEND));
            const std::string page(4096, '\0');
            ASSERT_EQ(write(other.get(), page.data(), page.size()), 4096);
        }
    };
    const ConversionResult result = convertAccessCatalogue(collection.path().string(), hooks);
    EXPECT_TRUE(addLocked);
    ASSERT_FALSE(result.ok());
    EXPECT_NE(result.error.find("changed while it was converted; nothing was replaced"),
              std::string::npos)
        << result.error;
    EXPECT_EQ(readFile(collection.database()).substr(0, collection.original().size()),
              collection.original());
}

TEST(ConversionKeepsTheOriginal, AsAFlushedCopyWhereThereAreNoHardLinks) {
    const JetCollection collection({"--schema", "rich"});
    ConversionHooks hooks;
    hooks.hardLinks = false;
    const ConversionResult result = convertAccessCatalogue(collection.path().string(), hooks);
    ASSERT_TRUE(result.ok()) << result.error;
    const fs::path kept = collection.path() / "Velmora2.jet4.db";
    EXPECT_EQ(readFile(kept), collection.original());
    struct stat status {};
    ASSERT_EQ(stat(kept.c_str(), &status), 0);
    EXPECT_EQ(status.st_nlink, 1U);
    EXPECT_EQ(folderEntries(collection.path()),
              (std::set<std::string>{"Velmora2.db", "Velmora2.jet4.db"}));
    collection.expectConverted();
}

// Files copied from a CD are read-only; the new catalogue is there to be
// added to, so its owner may write it. The original keeps its mode.
TEST(ConversionKeepsTheOriginal, ReadOnlyOriginalGivesACatalogueItsOwnerCanWrite) {
    const JetCollection collection({"--schema", "basic"});
    fs::permissions(collection.database(),
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    ASSERT_EQ(runInit(collection.path()).status, 0);
    EXPECT_EQ(fs::status(collection.database()).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);
    EXPECT_EQ(fs::status(collection.path() / "Velmora2.jet4.db").permissions(),
              fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
}

struct CrashCase {
    const char* name;
    ConversionStep step;
    int occurrence; // the how-manieth time the step is reached
    bool converted; // Velmora2.db is the new catalogue after the crash
    bool hardLinks;
    friend void PrintTo(const CrashCase& c, std::ostream* out) { *out << c.name; }
};

class ConversionCrashTest : public ::testing::TestWithParam<CrashCase> {};

// The conversion is killed at one of its steps: Velmora2.db is then the
// untouched original or the complete new catalogue, and a second run finishes.
TEST_P(ConversionCrashTest, LeavesTheOriginalOrTheWholeCatalogueAndASecondRunFinishes) {
    const CrashCase& crash = GetParam();
    const JetCollection collection({"--schema", "rich", "--with-deleted", "--second-table"});
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        int reached = 0;
        ConversionHooks hooks;
        hooks.hardLinks = crash.hardLinks;
        hooks.afterStep = [&](ConversionStep step) {
            if (step == crash.step && ++reached == crash.occurrence) {
                raise(SIGKILL);
            }
        };
        convertAccessCatalogue(collection.path().string(), hooks);
        _exit(3); // the step was never reached
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;

    if (crash.converted) {
        collection.expectConverted();
    } else {
        EXPECT_EQ(readFile(collection.database()), collection.original());
    }

    const InitOutcome second = runInit(collection.path());
    ASSERT_EQ(second.status, 0) << (second.err.empty() ? "" : second.err[0]);
    collection.expectConverted();
    EXPECT_EQ(readFile(collection.path() / "Velmora2.jet4.db"), collection.original());
    EXPECT_EQ(folderEntries(collection.path()), kConvertedFolder);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, ConversionCrashTest,
    ::testing::Values(
        CrashCase{"FirstTableWritten", ConversionStep::TableWritten, 1, false, true},
        CrashCase{"SecondTableWritten", ConversionStep::TableWritten, 2, false, true},
        CrashCase{"CatalogueWritten", ConversionStep::CatalogueWritten, 1, false, true},
        CrashCase{"CatalogueSynced", ConversionStep::CatalogueSynced, 1, false, true},
        CrashCase{"CatalogueChecked", ConversionStep::CatalogueChecked, 1, false, true},
        CrashCase{"OriginalKept", ConversionStep::OriginalKept, 1, false, true},
        CrashCase{"OriginalCopied", ConversionStep::OriginalKept, 1, false, false},
        CrashCase{"CatalogueInPlace", ConversionStep::CatalogueInPlace, 1, true, true}),
    [](const auto& info) { return std::string(info.param.name); });

struct RefusalCase {
    std::string name;
    std::vector<std::string> arguments;
    // Spoils the fixture in `folder` before the run.
    void (*prepare)(const fs::path& folder);
    const char* says;
    bool unprivileged = false;
    friend void PrintTo(const RefusalCase& c, std::ostream* out) { *out << c.name; }
};

void truncateTo(const fs::path& file, std::uintmax_t size) {
    fs::resize_file(file, size);
}

class ConversionRefusalTest : public ::testing::TestWithParam<RefusalCase> {};

// A refused file gets one line on standard error, and the folder stays
// exactly as it was.
TEST_P(ConversionRefusalTest, SaysWhyInOneLineAndChangesNothing) {
    const RefusalCase& refusal = GetParam();
    const JetCollection collection(refusal.arguments);
    if (refusal.prepare != nullptr) {
        refusal.prepare(collection.path());
    }
    const std::set<std::string> entries = folderEntries(collection.path());
    const std::string bytes = readFile(collection.database());

    const InitOutcome outcome = runInit(collection.path(), {}, refusal.unprivileged);
    fs::permissions(collection.path(), fs::perms::owner_all, fs::perm_options::add);
    EXPECT_EQ(outcome.status, 1);
    ASSERT_EQ(outcome.err.size(), 1U);
    EXPECT_EQ(
        outcome.err[0].rfind("velmora2-init: " + collection.database().string() + ": ", 0) == 0 ||
            outcome.err[0].rfind("velmora2-init: " + collection.path().string() + ": ", 0) == 0,
        true)
        << outcome.err[0];
    EXPECT_NE(outcome.err[0].find(refusal.says), std::string::npos) << outcome.err[0];
    EXPECT_EQ(folderEntries(collection.path()), entries);
    EXPECT_EQ(readFile(collection.database()), bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ConversionRefusalTest,
    ::testing::Values(
        RefusalCase{"NoTableCD", {"--schema", "nocd"}, nullptr, "catalogue without table CD"},
        RefusalCase{"Accdb", {"--accdb"}, nullptr, "(.accdb) catalogue"},
        RefusalCase{"Encrypted", {"--encrypt", "0x1234abcd"}, nullptr, "is encrypted"},
        RefusalCase{"TruncatedInAPage",
                    {"--schema", "rich"},
                    [](const fs::path& folder) {
                        const fs::path file = folder / "Velmora2.db";
                        truncateTo(file, fs::file_size(file) - 100);
                    },
                    "damaged"},
        // The memo pages at the end are gone: the rows point beyond the file.
        RefusalCase{"TruncatedAtAPage",
                    {"--schema", "rich"},
                    [](const fs::path& folder) { truncateTo(folder / "Velmora2.db", 10 * 4096); },
                    "damaged"},
        RefusalCase{"ReadOnlyFolder",
                    {"--schema", "basic"},
                    [](const fs::path& folder) {
                        fs::permissions(folder,
                                        fs::perms::owner_read | fs::perms::owner_exec |
                                            fs::perms::group_read | fs::perms::group_exec |
                                            fs::perms::others_read | fs::perms::others_exec,
                                        fs::perm_options::replace);
                    },
                    "cannot write the new catalogue in this folder",
                    true}),
    [](const auto& info) { return info.param.name; });

// Hand-made damage (make_jet4.py --damage): each refused in one line, at once
// (a hang is killed by runInit), the folder as it was.
INSTANTIATE_TEST_SUITE_P(
    Damage, ConversionRefusalTest,
    ::testing::Values(
        // The start page and bits wrap around 2^32 to a page of the table.
        RefusalCase{"PageMapWrapsAround",
                    {"--damage", "map-wraps"},
                    nullptr,
                    "it is damaged: the page map of table CD names page 4294967301 of 6"},
        RefusalCase{"PageMapWrapsAroundJet3",
                    {"--jet3", "--damage", "map-wraps"},
                    nullptr,
                    "it is damaged: the page map of table CD names page 4294967301 of 6"},
        RefusalCase{
            "PageMapReachesNoPage",
            {"--damage", "map-empty"},
            nullptr,
            "table CD holds 0 rows where its definition records 12; nothing was "
            "converted (velmora2-init --convert --accept-missing-rows converts the rows found)"},
        RefusalCase{"RecordedCountDiffers",
                    {"--schema", "rich", "--recorded-rows", "20"},
                    nullptr,
                    "table CD holds 14 rows where its definition records 20; nothing was "
                    "converted"},
        RefusalCase{"MemoChainPointsToItself",
                    {"--schema", "rich", "--damage", "memo-loop"},
                    nullptr,
                    "it is damaged: row 12 of page 6 in table CD's long value meets row 0 of "
                    "page 7 twice"},
        RefusalCase{"MemoChainPointsToItselfJet3",
                    {"--jet3", "--schema", "rich", "--damage", "memo-loop"},
                    nullptr,
                    "it is damaged: row 8 of page 5 in table CD's long value meets row 0 of "
                    "page 6 twice"},
        RefusalCase{"MemoClaimsMoreThanTheFile",
                    {"--schema", "rich", "--damage", "memo-length"},
                    nullptr,
                    "it is damaged: row 12 of page 6 in table CD's long value claims "
                    "1073741823 bytes, more than the file holds"},
        // libmdb warns on stderr about this row: only our line may reach it.
        RefusalCase{"RowEndsPastItself",
                    {"--damage", "row-end"},
                    nullptr,
                    "it is damaged: row 0 of page 5 in table CD cannot be taken apart"},
        RefusalCase{"DecimalScaleOver28",
                    {"--second-table", "--damage", "decimal-scale"},
                    nullptr,
                    "the definition of table Posudbe čitatelja is damaged: decimal column Iznos "
                    "claims 29 digits after the point (at most 28)"},
        RefusalCase{"DefinitionContinuesOnItself",
                    {"--damage", "definition-loop"},
                    nullptr,
                    "the definition of table CD is damaged: it continues on page 3 twice"},
        RefusalCase{"DefinitionClaimsMoreColumnsThanItHolds",
                    {"--damage", "definition-columns"},
                    nullptr,
                    "the definition of table CD is damaged: it claims 65535 columns on 1 page"}),
    [](const auto& info) { return info.param.name; });

TEST(ConversionRefusal, ASymbolicLinkIsNotFollowed) {
    const JetCollection collection({"--schema", "basic"});
    const fs::path elsewhere = collection.path() / "elsewhere.db";
    fs::rename(collection.database(), elsewhere);
    fs::create_symlink("elsewhere.db", collection.database());

    const InitOutcome outcome = runInit(collection.path());
    EXPECT_EQ(outcome.status, 1);
    ASSERT_EQ(outcome.err.size(), 1U);
    EXPECT_NE(outcome.err[0].find("a symbolic link"), std::string::npos) << outcome.err[0];
    EXPECT_TRUE(fs::is_symlink(collection.database()));
    EXPECT_EQ(readFile(elsewhere), collection.original());
    EXPECT_EQ(folderEntries(collection.path()),
              (std::set<std::string>{"Velmora2.db", "elsewhere.db"}));
}

} // namespace
} // namespace velmora::testing
