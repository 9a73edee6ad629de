#include "catalogue/utf8.h"
#include "cli/add/csv_entries.h"

#include <array>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace velmora::testing {
namespace {

// An entry as the table writes it: the line, then the texts in the header's
// usual order, and the list's own refusal.
struct Expected {
    int line;
    std::array<std::string, 5> texts; // Kategorija, Program, Opis, Source, Slika
    std::string refusal = {};
    bool operator==(const Expected&) const = default;
};

void PrintTo(const Expected& e, std::ostream* out) {
    *out << "line " << e.line << ": [" << e.texts[0] << "|" << e.texts[1] << "|" << e.texts[2]
         << "|" << e.texts[3].size() << " bytes|" << e.texts[4].size() << " bytes] " << e.refusal;
}

struct ReadList {
    std::vector<Expected> entries;
    std::string error;
};

// Both passes over `text`, handed over through a pipe as standard input is.
ReadList readList(const std::string& text, const std::string& folder, const std::string& encoding) {
    std::array<int, 2> ends{};
    if (pipe2(ends.data(), O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe2 failed");
    }
    std::jthread writer([&text, fd = ends[1]] {
        // A list refused early closes the pipe before all is written.
        sigset_t pipeSignal;
        sigemptyset(&pipeSignal);
        sigaddset(&pipeSignal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
        for (std::size_t done = 0; done < text.size();) {
            const ssize_t now = write(fd, text.data() + done, text.size() - done);
            if (now <= 0) {
                break;
            }
            done += static_cast<std::size_t>(now);
        }
        close(fd);
    });
    CsvList list(ListInput(ends[0], ""), folder, encoding);
    ReadList result;
    while (const std::optional<AddEntry> entry = list.next()) {
        result.entries.push_back(
            {entry->line,
             {entry->text(Field::Kategorija), entry->text(Field::Program), entry->text(Field::Opis),
              entry->text(Field::Source), entry->text(Field::Slika)},
             entry->refusal});
    }
    result.error = list.error();
    return result;
}

// UTF-8 text as UTF-16 with its byte order mark (characters of the BMP only).
std::string utf16(std::string_view text, bool bigEndian) {
    std::string result = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    while (!text.empty()) {
        const Utf8Character c = decodeUtf8(text);
        const auto high = static_cast<char>(c.codePoint >> 8);
        const auto low = static_cast<char>(c.codePoint & 0xFFU);
        result += bigEndian ? std::string{high, low} : std::string{low, high};
        text.remove_prefix(c.length);
    }
    return result;
}

const std::string kHeader = "Kategorija,Program,Opis,Source,Slika\n";

struct CsvCase {
    const char* name;
    std::string text;
    std::string folder;
    std::vector<Expected> entries;
    std::string error; // empty: the list is taken
    std::string encoding = {};
};

class CsvEntriesTest : public ::testing::TestWithParam<CsvCase> {};

TEST_P(CsvEntriesTest, ReadsTheRowsOrRefusesTheList) {
    const CsvCase& c = GetParam();
    const ReadList result = readList(c.text, c.folder, c.encoding);
    EXPECT_EQ(result.error, c.error);
    EXPECT_EQ(result.entries, c.entries);
}

const std::string kColumns = "; the columns are Kategorija, Program, Opis, Source and Slika";
const std::string kHint = " is not UTF-8; a list that a spreadsheet saved in Windows-1250 (Latin) "
                          "or Windows-1251 (Cyrillic) reads with --encoding windows-1250 (or "
                          "windows-1251)";

INSTANTIATE_TEST_SUITE_P(
    Rfc4180, CsvEntriesTest,
    ::testing::Values(
        CsvCase{"LfLineEnds",
                kHeader + "Igre,Tool,Small,/s.exe,/p.bmp\n",
                "",
                {{2, {"Igre", "Tool", "Small", "/s.exe", "/p.bmp"}}},
                ""},
        CsvCase{"CrLfAndNoFinalLineBreak",
                "Kategorija,Program,Opis,Source,Slika\r\nA,B,C,/s,/p\r\nD,E,F,/s2,/p2",
                "",
                {{2, {"A", "B", "C", "/s", "/p"}}, {3, {"D", "E", "F", "/s2", "/p2"}}},
                ""},
        CsvCase{"QuotedCommaAndDoubledQuote",
                kHeader + "Igre,\"Tool, Pro\",\"say \"\"hi\"\"\",/s,/p\n",
                "",
                {{2, {"Igre", "Tool, Pro", "say \"hi\"", "/s", "/p"}}},
                ""},
        CsvCase{
            "LineBreakInsideQuotesCountsForLaterLines",
            kHeader + "Igre,A,\"two\r\nlines\",/s,/p\r\nIgre,B,x,/s,/p\n",
            "",
            {{2, {"Igre", "A", "two\r\nlines", "/s", "/p"}}, {4, {"Igre", "B", "x", "/s", "/p"}}},
            ""},
        CsvCase{"ByteOrderMark",
                "\xEF\xBB\xBF" + kHeader + "Igre,T,d,/s,/p\n",
                "",
                {{2, {"Igre", "T", "d", "/s", "/p"}}},
                ""},
        CsvCase{"ColumnsInAnyOrderAndCase",
                "slika, OPIS ,Program,source,KATEGORIJA\n/p,d,T,/s,Igre\n",
                "",
                {{2, {"Igre", "T", "d", "/s", "/p"}}},
                ""},
        CsvCase{"EmptyLinesAreSkipped",
                kHeader + "\nIgre,A,x,/s,/p\n\n\nIgre,B,y,/s,/p\n",
                "",
                {{3, {"Igre", "A", "x", "/s", "/p"}}, {6, {"Igre", "B", "y", "/s", "/p"}}},
                ""},
        CsvCase{"SpacesArePartOfAField",
                kHeader + " Igre , A ,x,/s,/p\n",
                "",
                {{2, {" Igre ", " A ", "x", "/s", "/p"}}},
                ""},
        CsvCase{
            "EmptyFieldsStayEmpty", kHeader + ",,,,\n", "/lists", {{2, {"", "", "", "", ""}}}, ""},
        CsvCase{"RelativePathsFromTheListsFolder",
                kHeader + "Igre,A,x,setup.exe,pics/p.bmp\nIgre,B,x,/abs/s.exe,  \n",
                "/lists",
                {{2, {"Igre", "A", "x", "/lists/setup.exe", "/lists/pics/p.bmp"}},
                 {3, {"Igre", "B", "x", "/abs/s.exe", "  "}}},
                ""},
        CsvCase{"HeaderOnly", kHeader, "", {}, ""},
        CsvCase{"UnknownColumn",
                "Kategorija,Program,Opis,Source,Slika,Extra\n",
                "",
                {},
                "line 1: unknown column \"Extra\" in a header split at commas" + kColumns},
        CsvCase{"MissingColumn",
                "\n\nKategorija,Program,Source,Slika\n",
                "",
                {},
                "line 3: missing column \"Opis\" in a header split at commas" + kColumns},
        CsvCase{"ColumnNamedTwice",
                "Kategorija,Program,Opis,Source,Slika,program\n",
                "",
                {},
                "line 1: column \"Program\" named twice in a header split at commas" + kColumns},
        CsvCase{"StrayQuote",
                kHeader + "Igre,A,x,/s,/p\nIgre,B\"c,x,/s,/p\n",
                "",
                {},
                "line 3, column 7: a quote inside a field that does not start with one"},
        CsvCase{"TextAfterClosingQuote",
                kHeader + "Igre,\"A\"x,x,/s,/p\n",
                "",
                {},
                "line 2, column 9: text after the closing quote of a field"},
        CsvCase{"QuoteNeverClosed",
                kHeader + "Igre,\"A,x,/s,/p\nIgre,B,x,/s,/p\n",
                "",
                {},
                "line 2: a quoted field is never closed"},
        CsvCase{"TooFewFields",
                kHeader + "Igre,A,x,/s,/p\nIgre,B,x\n",
                "",
                {},
                "line 3: 3 fields where the header names 5"},
        CsvCase{"NoHeader", "\xEF\xBB\xBF\r\n", "", {}, "no header row"},
        CsvCase{"SemicolonsAsASpreadsheetSavesThem",
                "Kategorija;Program;Opis;Source;Slika\r\nIgre;\"a;b\";x,y;/s;/p\r\n",
                "",
                {{2, {"Igre", "a;b", "x,y", "/s", "/p"}}},
                ""},
        CsvCase{"Tabs",
                "\nProgram\tKategorija\tOpis\tSource\tSlika\nT\tIgre\td;,\t/s\t/p\n",
                "",
                {{3, {"Igre", "T", "d;,", "/s", "/p"}}},
                ""},
        CsvCase{"NoSeparatorFits",
                "Kategorija|Program|Opis|Source|Slika\n",
                "",
                {},
                "line 1: no comma, semicolon or tab splits the header into the columns "
                "Kategorija, Program, Opis, Source and Slika"},
        CsvCase{"SemicolonHeaderMissingAColumn",
                "Kategorija;Program;Opis;Source\n",
                "",
                {},
                "line 1: missing column \"Slika\" in a header split at semicolons" + kColumns},
        CsvCase{"Utf16LittleEndian",
                utf16("Kategorija\tProgram\tOpis\tSource\tSlika\r\nIgre\tČudo\t日本\t/s\t/p\r\n",
                      false),
                "",
                {{2, {"Igre", "Čudo", "日本", "/s", "/p"}}},
                ""},
        CsvCase{"Utf16BigEndian",
                utf16(kHeader + "Igre,Čudo,x,/s,/p\n", true),
                "",
                {{2, {"Igre", "Čudo", "x", "/s", "/p"}}},
                ""},
        CsvCase{"Utf16WithoutByteOrderMark",
                utf16(kHeader, false).substr(2),
                "",
                {},
                "line 1, column 2: a NUL character; a list saved as UTF-16 without its byte "
                "order mark reads with --encoding UTF-16LE (or UTF-16BE)"},
        CsvCase{"Windows1250WithoutEncoding",
                kHeader + "Igre,A,x,/s,/p\nIgre,\xC8udo,\xE8ista\xE8,/s,/p\n",
                "",
                {},
                "line 3, column 6: byte 0xC8" + kHint},
        CsvCase{"Windows1250WithEncoding",
                "Kategorija;Program;Opis;Source;Slika\r\nIgre;\xC8udo;\xE8ista\xE8 "
                "diska;/s;/p\r\n",
                "",
                {{2, {"Igre", "Čudo", "čistač diska", "/s", "/p"}}},
                "",
                "windows-1250"},
        CsvCase{"Windows1251WithEncoding",
                kHeader + "Igre,\xCF\xF0\xEE\xE3\xF0\xE0\xEC,x,/s,/p\n",
                "",
                {{2, {"Igre", "Програм", "x", "/s", "/p"}}},
                "",
                "windows-1251"},
        CsvCase{"ByteTheEncodingLacks",
                kHeader + "Igre,A\x98,x,/s,/p\n",
                "",
                {},
                "line 2, column 7: byte 0x98 is not windows-1251",
                "windows-1251"},
        CsvCase{"UnknownEncoding",
                kHeader,
                "",
                {},
                "unknown encoding \"no-such\" (iconv --list "
                "names the known ones)",
                "no-such"},
        CsvCase{"OverlongFormIsNotUtf8",
                kHeader + "Igre,A,\"two\nlines \xC0\xAF\",/s,/p\n",
                "",
                {},
                "line 3, column 7: byte 0xC0" + kHint},
        CsvCase{"EndsInsideACharacter",
                kHeader + "Igre,A,x,/s,/p\xE2\x82",
                "",
                {},
                "line 2, column 15: byte 0xE2" + kHint},
        CsvCase{"FieldLongerThanAPathRefusesItsLineOnly",
                kHeader + "Igre,A,x," + std::string(100000, 's') + ",/p\nIgre,B,x,/s," +
                    std::string(4095, 'p') + "\n",
                "",
                {{2,
                  {"Igre", "A", "x", std::string(4095, 's'), "/p"},
                  "Source: 100000 bytes, longer than a path can be (4095)"},
                 {3, {"Igre", "B", "x", "/s", std::string(4095, 'p')}}},
                ""}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace velmora::testing
