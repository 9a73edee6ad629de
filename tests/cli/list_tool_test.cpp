// velmora2-list run as a child process, with velmora2-add and velmora2-init
// beside it: a collection listed and copied into another, PATTERN, the state
// of each program folder, an Access catalogue, and the options that none of
// the companions knows.
#include "tests/support/child_process.h"
#include "tests/support/jet_fixture.h"
#include "tests/support/json_value.h"
#include "tests/support/temp_collection.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace velmora::testing {
namespace {

namespace fs = std::filesystem;

const std::string kList = VELMORA_LIST_EXE;
const std::string kAdd = VELMORA_ADD_EXE;
const std::string kInit = VELMORA_INIT_EXE;

ChildResult list(const TempDir& collection, std::vector<std::string> arguments = {}) {
    arguments.insert(arguments.begin(), {kList, "--collection", collection.str()});
    return runChild(arguments);
}

// The lines of a text, without their CR LF or LF.
std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.ends_with('\r')) {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// Texts that CSV must quote or keep: separators, quotes, a line break,
// letters beyond ASCII, spaces at both ends.
TEST(ListToolTest, ACollectionListedAsCsvAddsIntoAnotherAndListsTheSame) {
    const TempCollection from;
    const TempCollection into;
    const TempDir sources;
    writeFile(sources.path() / "setup.exe", patternBytes(5000, 1));
    writeFile(sources.path() / "picture.bmp", patternBytes(300, 2));
    writeFile(sources.path() / "list.csv",
              "Kategorija,Program,Opis,Source,Slika\n"
              "Igre,\"Tool, Pro\",\"say \"\"hi\"\"; then\r\ngo\",setup.exe,picture.bmp\n"
              "Uslužni programi,Čistač diska, two spaces ,setup.exe,picture.bmp\n"
              "\"Tab\tbed\",Last,,setup.exe,picture.bmp\n");
    ASSERT_EQ(runChild({kAdd, "--collection", from.str(), "--csv",
                        (sources.path() / "list.csv").string()})
                  .status,
              0);

    const ChildResult listed = list(from, {"--csv"});
    ASSERT_EQ(listed.status, 0) << listed.errors;
    EXPECT_TRUE(listed.output.starts_with("Kategorija,Program,Opis,Source,Slika\r\n"));
    writeFile(sources.path() / "listed.csv", listed.output);
    const ChildResult added = runChild(
        {kAdd, "--collection", into.str(), "--csv", (sources.path() / "listed.csv").string()});
    ASSERT_EQ(added.status, 0) << added.errors;

    EXPECT_EQ(list(into, {"--csv"}).output, replaced(listed.output, from.str(), into.str()));
    EXPECT_EQ(into.rows(), from.rows());
    EXPECT_EQ(readFile(into.programFolder("Tool, Pro") / "Setup.exe"),
              readFile(sources.path() / "setup.exe"));
}

// Each row says what its folder holds, found as the Windows programs find it
// (any letter case); PATTERN ignores case and accents, in the name or the
// category.
TEST(ListToolTest, PatternAndTheStateOfEachProgramFolder) {
    const TempCollection collection;
    collection.addRows(1, {"Igre", "Šah", "chess"});
    collection.addRows(1, {"Uslužni", "tool", "setup only"});
    collection.addRows(1, {"Grafika", "Gone", "no folder"});
    fs::create_directories(collection.programFolder("Šah"));
    writeFile(collection.programFolder("Šah") / "Setup.exe", "s");
    writeFile(collection.programFolder("Šah") / "Picture.bmp", "p");
    fs::create_directories(collection.programFolder("TOOL"));
    writeFile(collection.programFolder("TOOL") / "SETUP.EXE", "s");

    const ChildResult all = list(collection);
    EXPECT_EQ(all.status, 0) << all.errors;
    EXPECT_EQ(all.output, "Kategorija  Program  Files           Opis\n"
                          "Igre        Šah      both            chess\n"
                          "Uslužni     tool     no Picture.bmp  setup only\n"
                          "Grafika     Gone     no folder       no folder\n");

    const std::vector<std::string> json = linesOf(list(collection, {"--json"}).output);
    ASSERT_EQ(json.size(), 3U);
    EXPECT_EQ(jsonValue(json[1], "$.folder"), (collection.path() / "Programi" / "TOOL").string());
    EXPECT_EQ(jsonValue(json[1], "$.setup"), "1");
    EXPECT_EQ(jsonValue(json[1], "$.picture"), "0");
    EXPECT_EQ(jsonValue(json[2], "$.folderFound"), "0");
    EXPECT_EQ(linesOf(list(collection, {"--csv", "tool"}).output)[1],
              "Uslužni,tool,setup only," +
                  (collection.path() / "Programi" / "TOOL" / "SETUP.EXE").string() + "," +
                  (collection.path() / "Programi" / "TOOL" / "Picture.bmp").string());

    struct Case {
        std::string pattern;
        std::string count;
    };
    for (const Case& c : std::vector<Case>{
             {"SAH", "1\n"}, {"šAh", "1\n"}, {"usluz", "1\n"}, {"o", "2\n"}, {"chess", "0\n"}}) {
        SCOPED_TRACE(c.pattern);
        EXPECT_EQ(list(collection, {"--count", c.pattern}).output, c.count);
    }
}

// An Access catalogue lists the rows the fixture holds, in its order, and the
// file stays as it was, read from a folder that cannot be written.
TEST(ListToolTest, AnAccessCatalogueIsListedReadOnly) {
    const TempDir collection;
    const fs::path expected = collection.path() / "expected.json";
    makeJet(collection.path() / "Velmora2.db",
            {"--schema", "basic", "--with-deleted", "--expected", expected.string()});
    const std::string before = readFile(collection.path() / "Velmora2.db");
    const std::string rows = readFile(expected);
    fs::permissions(collection.path(), fs::perms::owner_write, fs::perm_options::remove);

    const ChildResult listed = list(collection, {"--json"});
    fs::permissions(collection.path(), fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(listed.status, 0) << listed.errors;
    const std::vector<std::string> lines = linesOf(listed.output);
    std::size_t count = 0;
    while (jsonValue(rows, "$.rows[" + std::to_string(count) + "]")) {
        ++count;
    }
    ASSERT_EQ(lines.size(), count);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i]);
        const std::string row = "$.rows[" + std::to_string(i) + "]";
        const std::string program = jsonValue(rows, row + "[1]").value_or("");
        EXPECT_EQ(jsonValue(lines[i], "$.program"), program == "null" ? "" : program);
    }
    EXPECT_EQ(readFile(collection.path() / "Velmora2.db"), before);
}

// An option that none of a companion's knows is refused before anything is
// done, with the one that was most likely meant; none becomes a folder.
struct UnknownOption {
    const char* name;
    std::string program;
    std::string option;
    std::string firstLine;
};

class UnknownOptionTest : public ::testing::TestWithParam<UnknownOption> {};

TEST_P(UnknownOptionTest, IsRefusedWithExit2AndWhatWasMeant) {
    const TempCollection collection;
    const UnknownOption& c = GetParam();
    const fs::path work = fs::current_path();
    fs::current_path(collection.path());
    const ChildResult result = runChild({c.program, c.option});
    fs::current_path(work);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.errors.substr(0, result.errors.find('\n')), c.firstLine);
    EXPECT_NE(result.errors.find(c.program == kInit ? "usage: velmora2-init" : "--help"),
              std::string::npos)
        << result.errors;
    EXPECT_EQ(folderEntries(collection.path()), (std::set<std::string>{"Programi", "Velmora2.db"}));
    EXPECT_TRUE(collection.rows().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, UnknownOptionTest,
    ::testing::Values(
        UnknownOption{"AddDryRunMistyped", kAdd, "--dryrun",
                      "velmora2-add: unknown option --dryrun; did you mean --dry-run?"},
        UnknownOption{"ListJsonMistyped", kList, "--jsn",
                      "velmora2-list: unknown option --jsn; did you mean --json?"},
        UnknownOption{"InitConvertMistyped", kInit, "--convrt",
                      "velmora2-init: unknown option --convrt; did you mean --convert?"},
        UnknownOption{"InitShortOption", kInit, "-v", "velmora2-init: unknown option -v"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace velmora::testing
