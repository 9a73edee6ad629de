#include "cli/add/terminal_report.h"
#include "tests/support/files.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace velmora::testing {
namespace {

using namespace std::chrono_literals;

struct PrintableCase {
    const char* name;
    std::string text;
    std::string shown;
};

class PrintableTest : public ::testing::TestWithParam<PrintableCase> {};

TEST_P(PrintableTest, NothingReachesTheTerminalAsACommand) {
    EXPECT_EQ(printable(GetParam().text), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PrintableTest,
    ::testing::Values(PrintableCase{"LettersKept", "Greška č日本 ~", "Greška č日本 ~"},
                      PrintableCase{"CrLfJoinsLines", "BROJ: 14\r\nOPIS: x", "BROJ: 14 / OPIS: x"},
                      PrintableCase{"LoneBreaks", "a\nb\rc", "a / b / c"},
                      PrintableCase{"Escape", "\x1b[31mred\x1b]0;title\x07", "?[31mred?]0;title?"},
                      PrintableCase{"TabAndDelete", "a\tb\x7f", "a?b?"},
                      PrintableCase{"C1CommandIntroducer",
                                    "\xc2\x9b"
                                    "2J",
                                    "?2J"},
                      PrintableCase{"BytesThatAreNotUtf8", "\xff\xfe x \xc4", "?? x ?"},
                      PrintableCase{"OverlongSlash", "\xc0\xaf", "??"},
                      PrintableCase{"Surrogate", "\xed\xa0\x80", "???"},
                      // Wider than 400 columns: the start and the end stay.
                      PrintableCase{"LongPathKeepsBothEnds", std::string(1000, 'a') + "/Setup.exe",
                                    std::string(199, 'a') + "…" + std::string(190, 'a') +
                                        "/Setup.exe"},
                      PrintableCase{"WideLettersTakeTwoColumns", repeat("日", 300),
                                    repeat("日", 99) + "…" + repeat("日", 100)}),
    [](const auto& info) { return std::string(info.param.name); });

// A stream written into memory.
class MemoryFile {
public:
    MemoryFile() : m_file(open_memstream(&m_buffer, &m_size)) {}
    ~MemoryFile() {
        std::fclose(m_file);
        std::free(m_buffer);
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    std::FILE* get() const { return m_file; }
    std::string text() {
        std::fflush(m_file);
        return std::string(m_buffer, m_size);
    }

private:
    char* m_buffer = nullptr;
    std::size_t m_size = 0;
    std::FILE* m_file;
};

// A report written into memory, with a clock that the test moves.
class Recorded {
public:
    explicit Recorded(OutputMode mode, int entries = 2, std::size_t width = 0,
                      ResultFormat format = ResultFormat::Text)
        : report(m_errors.get(), m_results.get(), format, mode, entries, width,
                 [this] { return m_time; }) {}

    void at(std::chrono::milliseconds time) { m_time = TerminalReport::Clock::time_point(time); }
    // What standard error and standard output received.
    std::string text() { return m_errors.text(); }
    std::string results() { return m_results.text(); }

    // One entry whose setup copy fails, one that is added.
    void runTwoEntries() {
        at(1000ms);
        report.startEntry(1, 2, "Tool");
        report.copyStarting("Picture.bmp");
        at(1050ms);
        report.caption("100% Complete");
        report.copyStarting("Setup.exe");
        at(1150ms);
        report.caption("57% Complete");
        report.message("Greška", "Kopiranje nije uspjelo!\r\na -> b\r\nNo space left on device");
        report.finishEntry(Outcome::Failed);
        at(1250ms);
        report.startEntry(2, 5, "\x1b[2JNext");
        report.finishEntry(Outcome::Added);
        report.summary({2, 1, 0, 1});
    }

private:
    MemoryFile m_errors;
    MemoryFile m_results;
    TerminalReport::Clock::time_point m_time{};

public:
    TerminalReport report;
};

const std::string kMessage =
    "line 2: Greška: Kopiranje nije uspjelo! / a -> b / No space left on device\n";
const std::string kSummary = "2 entries: 1 added, 0 refused, 1 with failures (line 2)\n";
const std::string kResults = "failed 2 Tool\nadded 5 ?[2JNext\n";

TEST(TerminalReportTest, OffATerminalOneLinePerEntryAndNoControlSequence) {
    Recorded out(OutputMode::Lines);
    out.runTwoEntries();
    EXPECT_EQ(out.text(), kMessage + kSummary);
    EXPECT_EQ(out.results(), kResults);
}

// The JSON line keeps the texts whole, escaped, whatever bytes they hold.
TEST(TerminalReportTest, JsonResultsKeepTheTextsAndMessagesEscaped) {
    Recorded out(OutputMode::Lines, 2, 0, ResultFormat::Json);
    out.runTwoEntries();
    EXPECT_EQ(out.results(),
              "{\"result\":\"failed\",\"line\":2,\"program\":\"Tool\",\"messages\":[\"Greška: "
              "Kopiranje nije uspjelo!\\u000d\\u000aa -> b\\u000d\\u000aNo space left on "
              "device\"]}\n"
              "{\"result\":\"added\",\"line\":5,\"program\":\"\\u001b[2JNext\",\"messages\":[]}\n");
}

TEST(TerminalReportTest, OnATerminalTheLineIsRedrawnAtMostEvery100Ms) {
    Recorded out(OutputMode::Live);
    out.runTwoEntries();
    // Drawn at 1000 ms, then not before 1100 ms; the message clears the line;
    // entry 2 is drawn 100 ms after the last redraw, and cleared when it is
    // finished, since its result goes to standard output.
    EXPECT_EQ(out.text(), "\r[1/2] Tool\x1b[K"
                          "\r[1/2] Tool: Setup.exe 57%\x1b[K"
                          "\r\x1b[K" +
                              kMessage +
                              "\r[2/2] ?[2JNext\x1b[K"
                              "\r\x1b[K" +
                              kSummary);
    EXPECT_EQ(out.results(), kResults);
}

TEST(TerminalReportTest, ALiveLineIsCutToTheColumnsTheTerminalShows) {
    struct Case {
        std::string program;
        std::size_t width;
        std::string shown;
    };
    for (const Case& c : std::vector<Case>{
             {"Čudesni alat", 16, "[12/340] Čudesn"},
             {"日本語のプログラム", 16, "[12/340] 日本語"},
             {"日本語のプログラム", 18, "[12/340] 日本語の"},
             {"e\u0301\u0301tude", 12, "[12/340] e\u0301\u0301t"},
         }) {
        SCOPED_TRACE(c.program + " in " + std::to_string(c.width) + " columns");
        Recorded out(OutputMode::Live, 340, c.width);
        out.report.startEntry(12, 0, c.program);
        EXPECT_EQ(out.text(), "\r" + c.shown + "\x1b[K");
    }
    // A terminal made narrower meanwhile (SIGWINCH): the next line fits it.
    Recorded out(OutputMode::Live, 340, 80);
    out.report.startEntry(12, 0, "Čudesni alat");
    out.report.setWidth(16);
    out.at(1000ms);
    out.report.copyStarting("Setup.exe");
    EXPECT_EQ(out.text(), "\r[12/340] Čudesni alat\x1b[K\r[12/340] Čudesn\x1b[K");
}

TEST(TerminalReportTest, QuietPrintsFailuresAndTheSummaryOnlyWhenNotAllWereAdded) {
    Recorded out(OutputMode::Quiet);
    out.runTwoEntries();
    EXPECT_EQ(out.text(), kMessage + kSummary);
    EXPECT_EQ(out.results(), "failed 2 Tool\n");

    Recorded clean(OutputMode::Quiet, 1);
    clean.report.startEntry(1, 0, "Tool");
    clean.report.caption("100% Complete");
    clean.report.finishEntry(Outcome::Added);
    clean.report.summary({1, 1, 0, 0});
    EXPECT_EQ(clean.text(), "");
    EXPECT_EQ(clean.results(), "");
}

} // namespace
} // namespace velmora::testing
