#include "cli/add/add_command_line.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velmora::testing {
namespace {

struct CommandLineCase {
    const char* name;
    std::vector<std::string> arguments; // after the program's name
    int status;                         // -1: the add runs
    std::string csv;                    // "(none)": one entry
    std::array<std::string, 3> entry;   // Program, Kategorija, Opis when one entry
    bool quiet;
    std::string printed; // found in the output (status 0) or the errors
    std::string encoding = {};
};

class AddCommandLineTest : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(AddCommandLineTest, ReadsOptionsOrGivesTheExitStatus) {
    const CommandLineCase& c = GetParam();
    std::vector<const char*> argv = {"velmora2-add"};
    for (const std::string& argument : c.arguments) {
        argv.push_back(argument.c_str());
    }
    const CommandLine line = parseCommandLine(static_cast<int>(argv.size()), argv.data());
    if (c.status >= 0) {
        ASSERT_FALSE(line.options.has_value());
        EXPECT_EQ(line.exitStatus, c.status);
        const std::string& printed = c.status == 0 ? line.output : line.errors;
        EXPECT_NE(printed.find(c.printed), std::string::npos) << printed;
        return;
    }
    ASSERT_TRUE(line.options.has_value()) << line.errors;
    const AddOptions& options = *line.options;
    EXPECT_EQ(options.csvFile.value_or("(none)"), c.csv);
    EXPECT_EQ(options.quiet, c.quiet);
    EXPECT_EQ(options.encoding, c.encoding);
    if (!options.csvFile) {
        EXPECT_EQ(options.entry.text(Field::Program), c.entry[0]);
        EXPECT_EQ(options.entry.text(Field::Kategorija), c.entry[1]);
        EXPECT_EQ(options.entry.text(Field::Opis), c.entry[2]);
        EXPECT_EQ(options.entry.text(Field::Source), "s.exe");
        EXPECT_EQ(options.entry.text(Field::Slika), "p.bmp");
        EXPECT_EQ(options.entry.line, 0);
    }
}

const std::vector<std::string> kFiles = {"--setup", "s.exe", "--picture", "p.bmp"};

std::vector<std::string> with(std::vector<std::string> arguments,
                              const std::vector<std::string>& more = kFiles) {
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
}

INSTANTIATE_TEST_SUITE_P(
    Table, AddCommandLineTest,
    ::testing::Values(
        CommandLineCase{"CategoryAndDescriptionDefaults",
                        with({"--program", "Tool"}),
                        -1,
                        "(none)",
                        {"Tool", "CDDVD", ""},
                        false,
                        ""},
        CommandLineCase{
            "EveryEntryOption",
            with({"--program", "A b", "--category", "Igre", "--description=-d, e", "-q"}),
            -1,
            "(none)",
            {"A b", "Igre", "-d, e"},
            true,
            ""},
        CommandLineCase{"BlankValuesAreLeftToTheAdd",
                        with({"--program", "", "--category", " "}),
                        -1,
                        "(none)",
                        {"", " ", ""},
                        false,
                        ""},
        CommandLineCase{"CsvFile", {"--csv", "list.csv", "--quiet"}, -1, "list.csv", {}, true, ""},
        CommandLineCase{"CsvOnStandardInput", {"--csv", "-"}, -1, "-", {}, false, ""},
        CommandLineCase{"CsvWithItsEncoding",
                        {"--encoding", "windows-1250", "--csv", "l.csv"},
                        -1,
                        "l.csv",
                        {},
                        false,
                        "",
                        "windows-1250"},
        CommandLineCase{"EncodingWithoutCsv",
                        with({"--program", "T", "--encoding", "windows-1250"}),
                        2,
                        "",
                        {},
                        false,
                        "--encoding requires --csv"},
        CommandLineCase{"CsvWithAnEntryOption",
                        {"--csv", "l.csv", "--program", "T"},
                        2,
                        "",
                        {},
                        false,
                        "excludes"},
        CommandLineCase{"PictureMissing",
                        {"--program", "T", "--setup", "s.exe"},
                        2,
                        "",
                        {},
                        false,
                        "give --program, --setup and --picture, or --csv FILE"},
        CommandLineCase{"NothingGiven", {}, 2, "", {}, false, "give --program"},
        CommandLineCase{"UnknownOption",
                        with({"--program", "T", "--force"}),
                        2,
                        "",
                        {},
                        false,
                        "velmora2-add: unknown option --force\n"},
        CommandLineCase{"MistypedOptionGetsTheClosest",
                        with({"--prgram", "T"}),
                        2,
                        "",
                        {},
                        false,
                        "velmora2-add: unknown option --prgram; did you mean --program?\n"},
        CommandLineCase{"MistypedOptionWithItsValue",
                        with({"--program", "T", "--colection=/tmp"}),
                        2,
                        "",
                        {},
                        false,
                        "unknown option --colection; did you mean --collection?\n"},
        CommandLineCase{
            "StrayArgument", with({"--program", "T", "extra"}), 2, "", {}, false, "extra"},
        CommandLineCase{"CollectionMissing",
                        with({"--program", "T", "--collection", "/no/such/folder"}),
                        2,
                        "",
                        {},
                        false,
                        "/no/such/folder"},
        // Bytes that a Windows-1250 terminal sends for "č", as a list's are refused.
        CommandLineCase{"ProgramNotUtf8",
                        with({"--program", "Ra\xe8un"}),
                        2,
                        "",
                        {},
                        false,
                        "--program: byte 0xE8 at 3 is not UTF-8"},
        CommandLineCase{"CategoryNotUtf8",
                        with({"--program", "T", "--category", "\x9a"}),
                        2,
                        "",
                        {},
                        false,
                        "--category: byte 0x9A at 1 is not UTF-8"},
        CommandLineCase{"DescriptionNotUtf8",
                        with({"--program", "T", "--description", "ok \xc4"}),
                        2,
                        "",
                        {},
                        false,
                        "--description: byte 0xC4 at 4 is not UTF-8"},
        CommandLineCase{"Help", {"--help"}, 0, "", {}, false, "--csv FILE"},
        CommandLineCase{"Version", {"--version"}, 0, "", {}, false, "1.00\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// Each option once, its one placeholder beside it and what it cannot be
// combined with in its description.
TEST(AddCommandLineHelpTest, ShowsEachOptionOnceWithItsPlaceholder) {
    const char* argv[] = {"velmora2-add", "--help"};
    const std::string help = parseCommandLine(2, argv).output;
    EXPECT_EQ(help.find("Excludes"), std::string::npos) << help;
    EXPECT_EQ(help.find("DIR:"), std::string::npos) << help;
    for (const char* option : {"--program NAME", "--category CAT", "--description TEXT",
                               "--setup PATH", "--picture PATH"}) {
        const std::size_t line = help.find(std::string("\n  ") + option + " ");
        ASSERT_NE(line, std::string::npos) << option << "\n" << help;
        const std::string text = help.substr(line + 1, help.find('\n', line + 1) - line - 1);
        EXPECT_NE(text.find("cannot be combined with --csv"), std::string::npos) << text;
    }
    EXPECT_NE(help.find("\n  --collection DIR "), std::string::npos) << help;
}

} // namespace
} // namespace velmora::testing
