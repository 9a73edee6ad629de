#include "cli/add/csv_entries.h"

#include <array>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velmora::testing {
namespace {

// An entry as the table writes it: the line, then the texts in the header's
// usual order.
struct Expected {
    int line;
    std::array<std::string, 5> texts; // Kategorija, Program, Opis, Source, Slika
    bool operator==(const Expected&) const = default;
};

std::vector<Expected> described(const std::vector<AddEntry>& entries) {
    std::vector<Expected> result;
    for (const AddEntry& entry : entries) {
        result.push_back(
            {entry.line,
             {entry.text(Field::Kategorija), entry.text(Field::Program), entry.text(Field::Opis),
              entry.text(Field::Source), entry.text(Field::Slika)}});
    }
    return result;
}

void PrintTo(const Expected& e, std::ostream* out) {
    *out << "line " << e.line << ": [" << e.texts[0] << "|" << e.texts[1] << "|" << e.texts[2]
         << "|" << e.texts[3] << "|" << e.texts[4] << "]";
}

const std::string kHeader = "Kategorija,Program,Opis,Source,Slika\n";

struct CsvCase {
    const char* name;
    std::string text;
    std::string folder;
    std::vector<Expected> entries;
    std::string error; // empty: the list is taken
};

class CsvEntriesTest : public ::testing::TestWithParam<CsvCase> {};

TEST_P(CsvEntriesTest, ReadsTheRowsOrRefusesTheList) {
    const CsvCase& c = GetParam();
    const CsvEntries result = parseCsvEntries(c.text, c.folder);
    EXPECT_EQ(result.error, c.error);
    EXPECT_EQ(described(result.entries), c.entries);
}

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
                "line 1: unknown column \"Extra\""},
        CsvCase{"MissingColumn",
                "\n\nKategorija,Program,Source,Slika\n",
                "",
                {},
                "line 3: missing column \"Opis\""},
        CsvCase{"ColumnNamedTwice",
                "Kategorija,Program,Opis,Source,Slika,program\n",
                "",
                {},
                "line 1: column \"Program\" named twice"},
        CsvCase{"StrayQuote",
                kHeader + "Igre,A,x,/s,/p\nIgre,B\"c,x,/s,/p\n",
                "",
                {},
                "line 3: error parsing data while strict checking enabled"},
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
        CsvCase{"NoHeader", "\xEF\xBB\xBF\r\n", "", {}, "no header row"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace velmora::testing
