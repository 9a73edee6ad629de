// velmora2-add run as a child process, as a person or a script runs it.
#include "catalogue/copy/descriptor.h"
#include "tests/support/child_process.h"
#include "tests/support/jet_fixture.h"
#include "tests/support/json_value.h"
#include "tests/support/temp_collection.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <sys/file.h>
#include <thread>
#include <vector>

namespace velmora::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kAdd = VELMORA_ADD_EXE;

// A collection and two small source files.
class AddToolTest : public ::testing::Test {
protected:
    AddToolTest() {
        fs::create_directory(sources.path() / "pics");
        writeFile(setup(), patternBytes(70000, 1));
        writeFile(picture(), patternBytes(1024, 2));
    }

    fs::path setup() const { return sources.path() / "setup.exe"; }
    fs::path picture() const { return sources.path() / "pics" / "picture.bmp"; }

    ChildResult add(std::vector<std::string> arguments,
                    const std::string& input = "/dev/null") const {
        arguments.insert(arguments.begin(), {kAdd, "--collection", collection.str()});
        return runChild(arguments, input);
    }
    std::vector<std::string> entry(const std::string& program, const std::string& description,
                                   const std::string& setupPath) const {
        return {"--program", program,   "--description", description,
                "--setup",   setupPath, "--picture",     picture().string()};
    }
    void expectNothingWritten() const {
        EXPECT_TRUE(collection.rows().empty());
        EXPECT_TRUE(fs::is_empty(collection.path() / "Programi"));
    }

    TempCollection collection;
    TempDir sources;
};

TEST_F(AddToolTest, OneEntryStoresTheRowAndBothFiles) {
    const ChildResult result = add(entry("Tool", "Small tool", setup().string()));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "added - Tool\n");
    EXPECT_EQ(result.errors, "1 entry: 1 added, 0 refused, 0 with failures\n");
    EXPECT_EQ(collection.rows(), (std::vector<Row>{{"CDDVD", "Tool", "Small tool"}}));
    EXPECT_EQ(readFile(collection.programFolder("Tool") / "Setup.exe"), readFile(setup()));
    EXPECT_EQ(readFile(collection.programFolder("Tool") / "Picture.bmp"), readFile(picture()));
}

TEST_F(AddToolTest, AFolderWithoutCatalogueIsNamedWithHowToMakeOne) {
    const TempDir folder;
    const ChildResult result =
        runChild({kAdd, "--collection", folder.path().string(), "--program", "Tool", "--setup",
                  setup().string(), "--picture", picture().string()},
                 "/dev/null");
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.errors, "velmora2-add: " + folder.path().string() +
                                 " holds no catalogue (Velmora2.db); make one with: " +
                                 (fs::path(kAdd).parent_path() / "velmora2-init").string() + " " +
                                 folder.path().string() + "\n");
    EXPECT_TRUE(fs::is_empty(folder.path()));
}

struct Refusal {
    const char* name;
    std::string program;
    std::string description;
    std::string setup; // "(file)": the real setup file
    std::string line;
    std::string picture = "(file)"; // "(file)": the real picture
};

class RefusalTest : public AddToolTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusalTest, GivesItsLineAndExit1WithNothingWritten) {
    const Refusal& r = GetParam();
    std::vector<std::string> arguments =
        entry(r.program, r.description, r.setup == "(file)" ? setup().string() : r.setup);
    if (r.picture != "(file)") {
        arguments.back() = r.picture;
    }
    const ChildResult result = add(arguments);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, "refused - " + r.program + "\n");
    EXPECT_EQ(result.errors, r.line + "\n1 entry: 0 added, 1 refused, 0 with failures\n");
    expectNothingWritten();
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefusalTest,
    ::testing::Values(
        Refusal{"DescriptionOf50Characters", "Tool", repeat("ž", 50), "(file)",
                "Greška: Molimo skratite opis. Maksimalno 49 karaktera!"},
        Refusal{"BlankProgram", " ", "d", "(file)", "Greška: Neko od polja nije ispunjeno!"},
        Refusal{"EmptySetup", "Tool", "d", "", "Greška: Neko od polja nije ispunjeno!"},
        Refusal{"ParentFolderName", "..", "d", "(file)", "Greška: Neispravno ime programa!"},
        Refusal{"NameWithSlash", "a/b", "d", "(file)", "Greška: Neispravno ime programa!"},
        Refusal{"MissingSetup", "Tool", "d", "/nonexistent/setup.exe",
                "Greška: Datoteka nije dostupna! / /nonexistent/setup.exe / No such file or "
                "directory"},
        Refusal{"BothFilesMissing", "Tool", "d", "/nonexistent/setup.exe",
                "Greška: Datoteka nije dostupna! / /nonexistent/p.bmp / No such file or "
                "directory / /nonexistent/setup.exe / No such file or directory",
                "/nonexistent/p.bmp"},
        Refusal{"SetupInProc", "Tool", "d", "/proc/self/status",
                "Greška: Datoteka nije dostupna! / /proc/self/status / Source is not a file on a "
                "disk (the kernel makes it as it is read)"},
        Refusal{"ConsoleDeviceName", "CONOUT$", "d", "(file)", "Greška: Neispravno ime programa!"},
        // A path written on Windows: the backslash is named, with the path as
        // it was most likely meant.
        Refusal{"PathWithBackslashes", "Tool", "d", "/nonexistent\\files\\setup.exe",
                "Greška: Datoteka nije dostupna! / /nonexistent\\files\\setup.exe / No such file "
                "or directory\nhint: Source holds \"\\\", which separates no folders here; did "
                "you mean /nonexistent/files/setup.exe?"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AddToolTest, CsvAddsTheGoodRowsInOrderAndReportsTheBadOneByLine) {
    // A byte order mark, CR LF, columns in another order and case, quoted
    // commas, quotes and a line break, paths relative to the list's folder,
    // an absolute one, and a bad row in the middle. The last name holds a
    // command introducer (C1 CSI), which must not reach the output as one.
    const std::string list = "\xEF\xBB\xBFProgram,Slika,opis,SOURCE,Kategorija\r\n"
                             "\"Tool, Pro\",pics/picture.bmp,\"say \"\"hi\"\"\",setup.exe,Igre\r\n"
                             "Second,pics/picture.bmp,\"two\r\nlines\",setup.exe,Ostalo\r\n"
                             "Bad,pics/picture.bmp," +
                             repeat("x", 50) +
                             ",setup.exe,Igre\r\n"
                             "\u009B31mRed,pics/picture.bmp,third," +
                             setup().string() + ",Internet\r\n";
    writeFile(sources.path() / "list.csv", list);

    const ChildResult result = add({"--csv", (sources.path() / "list.csv").string()});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, "added 2 Tool, Pro\n"
                             "added 3 Second\n"
                             "refused 5 Bad\n"
                             "added 6 ?31mRed\n");
    EXPECT_EQ(result.errors, "line 5: Greška: Molimo skratite opis. Maksimalno 49 karaktera!\n"
                             "4 entries: 3 added, 1 refused (line 5), 0 with failures\n");
    EXPECT_EQ(collection.rows(), (std::vector<Row>{{"Igre", "Tool, Pro", "say \"hi\""},
                                                   {"Ostalo", "Second", "two\r\nlines"},
                                                   {"Internet", "\u009B31mRed", "third"}}));
    for (const std::string name : {"Tool, Pro", "Second", "\u009B31mRed"}) {
        EXPECT_EQ(readFile(collection.programFolder(name) / "Setup.exe"), readFile(setup()));
        EXPECT_EQ(readFile(collection.programFolder(name) / "Picture.bmp"), readFile(picture()));
    }
    EXPECT_FALSE(fs::exists(collection.programFolder("Bad")));
}

// A corrected list run again adds only what is not there yet: a name is
// compared as Windows compares folder names, so "tool" is "Tool".
TEST_F(AddToolTest, AListRunTwiceWithSkipExistingAddsNothingTheSecondTime) {
    const std::vector<std::string> first = entry("Tool", "first", setup().string());
    ASSERT_EQ(add(first).status, 0);
    writeFile(sources.path() / "list.csv",
              "Kategorija,Program,Opis,Source,Slika\n"
              "Igre,tool,again,setup.exe,pics/picture.bmp\n"
              "Igre,Šah,new,setup.exe,pics/picture.bmp\n"
              "Igre,ŠAH,twice in the list,setup.exe,pics/picture.bmp\n");
    const std::vector<std::string> run = {"--skip-existing", "--csv",
                                          (sources.path() / "list.csv").string()};
    const ChildResult once = add(run);
    EXPECT_EQ(once.status, 0) << once.errors;
    EXPECT_EQ(once.output, "skipped 2 tool\nadded 3 Šah\nskipped 4 ŠAH\n");
    const std::string files = readFile(collection.programFolder("Šah") / "Setup.exe");

    const ChildResult twice = add(run);
    EXPECT_EQ(twice.status, 0) << twice.errors;
    EXPECT_EQ(twice.output, "skipped 2 tool\nskipped 3 Šah\nskipped 4 ŠAH\n");
    EXPECT_EQ(twice.errors, "3 entries: 0 added, 0 refused, 0 with failures, 3 skipped (already "
                            "in the catalogue)\n");
    EXPECT_EQ(collection.rows(),
              (std::vector<Row>{{"CDDVD", "Tool", "first"}, {"Igre", "Šah", "new"}}));
    EXPECT_EQ(readFile(collection.programFolder("Šah") / "Setup.exe"), files);
}

// Every file of a folder, by its path inside it, with its bytes.
std::map<std::string, std::string> snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        files[fs::relative(entry.path(), folder).string()] =
            entry.is_regular_file() ? readFile(entry.path()) : "(folder)";
    }
    return files;
}

// A dry run makes the add's checks, the catalogue's own among them (an
// Access file's rules refuse a description longer than its field), and leaves
// the collection byte for byte.
TEST_F(AddToolTest, ADryRunChecksEveryEntryAndLeavesTheCollectionByteForByte) {
    const TempDir access;
    makeJet(access.path() / "Velmora2.db", {"--schema", "basic"});
    fs::create_directory(access.path() / "Programi");
    ASSERT_EQ(add(entry("Tool", "kept", setup().string())).status, 0);
    writeFile(sources.path() / "list.csv", "Kategorija,Program,Opis,Source,Slika\n"
                                           "Igre,Tool,again,setup.exe,pics/picture.bmp\n"
                                           "Igre,New,new,missing.exe,pics/picture.bmp\n"
                                           "Igre,Other,new,setup.exe,pics/picture.bmp\n");
    for (const fs::path& folder : {collection.path(), access.path()}) {
        SCOPED_TRACE(folder);
        const auto before = snapshot(folder);
        const ChildResult result = runChild({kAdd, "--collection", folder.string(), "--dry-run",
                                             "--csv", (sources.path() / "list.csv").string()});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.output, "checked 2 Tool\nrefused 3 New\nchecked 4 Other\n");
        EXPECT_TRUE(result.errors.ends_with("3 entries: 2 could be added, 1 refused (line 3), 0 "
                                            "with failures; nothing was written (--dry-run)\n"))
            << result.errors;
        EXPECT_EQ(snapshot(folder), before);
    }
}

// Each JSON line parses, and the lines count what the summary says.
TEST_F(AddToolTest, JsonLinesParseAndCountWhatTheSummarySays) {
    writeFile(sources.path() / "list.csv", "Kategorija,Program,Opis,Source,Slika\n"
                                           "Igre,Čaj & kava,a,setup.exe,pics/picture.bmp\n"
                                           "Igre,..,b,setup.exe,pics/picture.bmp\n"
                                           "Igre,Third,c,setup.exe,pics/picture.bmp\n");
    const ChildResult result = add({"--json", "--csv", (sources.path() / "list.csv").string()});
    EXPECT_EQ(result.status, 1);
    std::map<std::string, int> counts;
    std::istringstream lines(result.output);
    for (std::string line; std::getline(lines, line);) {
        const auto outcome = jsonValue(line, "$.result");
        ASSERT_TRUE(outcome) << line;
        ++counts[*outcome];
    }
    EXPECT_EQ(jsonValue(result.output.substr(0, result.output.find('\n')), "$.program"),
              "Čaj & kava");
    EXPECT_NE(result.output.find("\"line\":3,\"program\":\"..\",\"messages\":[\"Greška: "
                                 "Neispravno ime programa!\"]"),
              std::string::npos);
    EXPECT_EQ(result.errors.substr(result.errors.rfind("3 entries")),
              "3 entries: " + std::to_string(counts["added"]) + " added, " +
                  std::to_string(counts["refused"]) + " refused (line 3), 0 with failures\n");
    EXPECT_EQ(counts["added"], 2);
}

TEST_F(AddToolTest, AHeaderWithAMissingOrUnknownColumnAddsNothing) {
    const std::string row = "Igre,Tool,d," + setup().string() + "," + picture().string() + "\n";
    writeFile(sources.path() / "list.csv", "Kategorija,Program,Opis,Source\n" + row);
    const ChildResult missing = add({"--csv", (sources.path() / "list.csv").string()});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.errors, "velmora2-add: " + (sources.path() / "list.csv").string() +
                                  ": line 1: missing column \"Slika\" in a header split at "
                                  "commas; the columns are Kategorija, Program, Opis, Source "
                                  "and Slika\n");

    writeFile(sources.path() / "input.csv", "Kategorija,Program,Opis,Source,Slika,Size\n" + row);
    const ChildResult unknown = add({"--csv", "-"}, (sources.path() / "input.csv").string());
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.errors, "velmora2-add: standard input: line 1: unknown column \"Size\" in a "
                              "header split at commas; the columns are Kategorija, Program, "
                              "Opis, Source and Slika\n");
    expectNothingWritten();
}

// A reader that goes away (`2>&1 | head -1`) neither kills the entry under
// way nor lets the run go on unseen: the entry's setup copy, after a message
// that cannot be written, is still made, and the next entry is not begun. A
// folder stands where the picture goes, so its copy fails after the row.
TEST_F(AddToolTest, ReportWithoutAReaderFinishesTheEntryUnderWayAndStops) {
    fs::create_directories(collection.programFolder("First") / "Picture.bmp" / "inside");
    writeFile(sources.path() / "list.csv", "Kategorija,Program,Opis,Source,Slika\n"
                                           "Igre,First,d,setup.exe,pics/picture.bmp\n"
                                           "Igre,Second,d,setup.exe,pics/picture.bmp\n");
    const ChildResult result = runChildWithoutReader(
        {kAdd, "--collection", collection.str(), "--csv", (sources.path() / "list.csv").string()});
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(readFile(collection.programFolder("First") / "Setup.exe"), readFile(setup()));
    EXPECT_EQ(collection.rows(), (std::vector<Row>{{"Igre", "First", "d"}}));
}

TEST_F(AddToolTest, AListFromStandardInputIsCheckedWholeThenAddedWithItsLongFieldRefused) {
    // Semicolons, and a path longer than any path can be: that line alone is
    // refused, with a value cut to a sane width.
    const std::string list = "Kategorija;Program;Opis;Source;Slika\n"
                             "Igre;Tool;d;" +
                             setup().string() + ";" + picture().string() + "\nIgre;Long;d;" +
                             std::string(1'000'000, 'x') + ";" + picture().string() +
                             "\nIgre;Last;d;" + setup().string() + ";" + picture().string() + "\n";
    writeFile(sources.path() / "list.csv", list);
    const ChildResult result = add({"--csv", "-"}, (sources.path() / "list.csv").string());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, "added 2 Tool\nrefused 3 Long\nadded 4 Last\n");
    EXPECT_EQ(result.errors, "line 3: Source: 1000000 bytes, longer than a path can be (4095)\n"
                             "3 entries: 2 added, 1 refused (line 3), 0 with failures\n");
    EXPECT_EQ(collection.rows(), (std::vector<Row>{{"Igre", "Tool", "d"}, {"Igre", "Last", "d"}}));
    EXPECT_FALSE(fs::exists(collection.programFolder("Long")));

    // A fault of form on the last line: nothing at all is added.
    writeFile(sources.path() / "bad.csv", list + "Igre;Bad;d\n");
    const ChildResult bad = add({"--csv", (sources.path() / "bad.csv").string()});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.errors, "velmora2-add: " + (sources.path() / "bad.csv").string() +
                              ": line 5: 3 fields where the header names 5\n");
    EXPECT_EQ(collection.rows().size(), 2U);
}

// A list cut short after an entry was added is a failure among entries
// (exit 1), never "nothing was added" (exit 2). The run is held while it
// waits for the first program's folder, whose lock the test holds, and the
// list is cut inside its third line, past what was read of it so far.
TEST_F(AddToolTest, AListCutShortAfterAnEntryWasAddedExits1) {
    const fs::path list = sources.path() / "list.csv";
    writeFile(list, "Kategorija,Program,Opis,Source,Slika\n"
                    "Igre,First,d,setup.exe,pics/picture.bmp\n"
                    "Igre,Second," +
                        repeat("x", 200'000) + ",setup.exe,pics/picture.bmp\n");
    fs::create_directory(collection.programFolder("First"));
    const Descriptor held(FileSystem::real(), ::open(collection.programFolder("First").c_str(),
                                                     O_RDONLY | O_DIRECTORY));
    ASSERT_EQ(::flock(held.get(), LOCK_EX), 0);

    TerminalChild child({kAdd, "--collection", collection.str(), "--csv", list.string()});
    // The row is stored before the folder is locked; a read that meets the
    // add's write lock simply looks again.
    const auto stored = [&] {
        try {
            return !collection.rows().empty();
        } catch (const std::exception&) {
            return false;
        }
    };
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (!stored() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(stored()) << child.screen();
    fs::resize_file(list, 150'000);
    ASSERT_EQ(::flock(held.get(), LOCK_UN), 0);
    const ChildResult result = child.finish(60s);

    EXPECT_EQ(result.status, 1) << result.errors;
    EXPECT_NE(result.errors.find(list.string() + ": line 3: the list changed while it was read"),
              std::string::npos)
        << result.errors;
    EXPECT_EQ(collection.rows(), (std::vector<Row>{{"Igre", "First", "d"}}));
    EXPECT_EQ(readFile(collection.programFolder("First") / "Setup.exe"), readFile(setup()));
}

TEST_F(AddToolTest, AThousandEntriesFromOneList) {
    constexpr int kEntries = 1000;
    std::string list = "Kategorija,Program,Opis,Source,Slika\n";
    std::vector<Row> expected;
    for (int i = 1; i <= kEntries; ++i) {
        const std::string name = "Program " + std::to_string(i);
        list += "Ostalo," + name + ",Entry " + std::to_string(i) + ",setup.exe,pics/picture.bmp\n";
        expected.push_back({"Ostalo", name, "Entry " + std::to_string(i)});
    }
    writeFile(sources.path() / "list.csv", list);

    const ChildResult result = add({"--csv", (sources.path() / "list.csv").string()});
    EXPECT_EQ(result.status, 0) << result.errors.substr(0, 2000);
    EXPECT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), kEntries);
    EXPECT_TRUE(result.output.ends_with("added 1001 Program 1000\n"));
    EXPECT_EQ(result.errors, "1000 entries: 1000 added, 0 refused, 0 with failures\n");
    EXPECT_EQ(collection.rows(), expected);
    int complete = 0;
    for (const auto& folder : fs::directory_iterator(collection.path() / "Programi")) {
        complete +=
            folderEntries(folder.path()) == std::set<std::string>{"Picture.bmp", "Setup.exe"};
    }
    EXPECT_EQ(complete, kEntries);
}

// Interrupting a run during a large copy. The source is 1 GiB of data that no
// file system can share or leave sparse, so the copy takes long enough for
// its percentage to show on the terminal before the signal is sent.
struct Interruption {
    const char* name;
    int signal;
    int status;
};

class InterruptTest : public ::testing::TestWithParam<Interruption> {
protected:
    static void SetUpTestSuite() {
        s_bigSource = std::make_unique<TempDir>();
        std::ofstream out(s_bigSource->path() / "big-setup.exe", std::ios::binary);
        for (int mebibyte = 0; mebibyte < 1024; ++mebibyte) {
            const std::string chunk = patternBytes(1 << 20, mebibyte);
            out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        }
    }
    static void TearDownTestSuite() { s_bigSource.reset(); }

    static std::unique_ptr<TempDir> s_bigSource;
};

std::unique_ptr<TempDir> InterruptTest::s_bigSource;

// Whether the terminal shows the setup copy below 100%.
bool setupCopyUnderWay(const std::string& screen) {
    static const std::regex percentage("Setup\\.exe ([0-9]+)%");
    for (std::sregex_iterator match(screen.begin(), screen.end(), percentage), end; match != end;
         ++match) {
        if (std::stoi((*match)[1]) < 100) {
            return true;
        }
    }
    return false;
}

TEST_P(InterruptTest, CancelsTheCopyKeepsThePreviousFileAndReports) {
    const TempCollection collection;
    const TempDir sources;
    const fs::path folder = collection.programFolder("Big");
    fs::create_directory(folder);
    const std::string previous = patternBytes(4099, 7);
    writeFile(folder / "Setup.exe", previous);
    writeFile(sources.path() / "picture.bmp", patternBytes(1001, 3));
    writeFile(sources.path() / "small.exe", patternBytes(100, 4));
    writeFile(sources.path() / "list.csv", "Kategorija,Program,Opis,Source,Slika\n"
                                           "Igre,Big,big one," +
                                               (s_bigSource->path() / "big-setup.exe").string() +
                                               ",picture.bmp\n"
                                               "Igre,Small,small one,small.exe,picture.bmp\n");

    TerminalChild child(
        {kAdd, "--collection", collection.str(), "--csv", (sources.path() / "list.csv").string()});
    ASSERT_TRUE(child.readUntil(setupCopyUnderWay, 120s)) << "never saw the setup copy under way:\n"
                                                          << child.screen();
    child.signal(GetParam().signal);
    const ChildResult result = child.finish(60s);
    const std::string name = GetParam().name;

    EXPECT_EQ(result.status, GetParam().status) << result.errors;
    EXPECT_NE(result.errors.find("line 2: Greška: Kopiranje nije uspjelo! / " +
                                 (s_bigSource->path() / "big-setup.exe").string() + " -> " +
                                 (folder / "Setup.exe").string() + " / Operation canceled"),
              std::string::npos)
        << result.errors;
    EXPECT_NE(result.errors.find("Interrupted by " + name +
                                 ": the copy of line 2 (Big) was cancelled; 1 entry not tried"),
              std::string::npos)
        << result.errors;
    EXPECT_NE(
        result.errors.find("2 entries: 0 added, 0 refused, 1 with failures (line 2), 1 not tried"),
        std::string::npos)
        << result.errors;
    // The size first: a replaced file is 1 GiB, too much to compare and print.
    ASSERT_EQ(fs::file_size(folder / "Setup.exe"), previous.size());
    EXPECT_EQ(readFile(folder / "Setup.exe"), previous);
    EXPECT_EQ(folderEntries(folder), (std::set<std::string>{"Picture.bmp", "Setup.exe"}));
    // The interrupted entry's row stays, as after a failed copy; the next
    // entry was never tried.
    EXPECT_EQ(collection.rows(), (std::vector<Row>{{"Igre", "Big", "big one"}}));
    EXPECT_FALSE(fs::exists(collection.programFolder("Small")));
}

INSTANTIATE_TEST_SUITE_P(Signals, InterruptTest,
                         ::testing::Values(Interruption{"SIGINT", SIGINT, 130},
                                           Interruption{"SIGTERM", SIGTERM, 143},
                                           Interruption{"SIGHUP", SIGHUP, 129},
                                           Interruption{"SIGQUIT", SIGQUIT, 131}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace velmora::testing
