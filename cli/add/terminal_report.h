#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

enum class OutputMode {
    Live,  // a terminal: one line per entry, redrawn while its files are copied
    Lines, // a pipe or a file: one line per finished entry, nothing redrawn
    Quiet, // the failures only
};

enum class Outcome {
    Added,
    Refused,
    Failed,
    AddedWithFailure, // the row is stored, a later step (the folder, a copy) failed
    Interrupted,      // failed: its copy was cancelled by a signal
    Skipped,          // its name is in the catalogue already (--skip-existing)
    Checked,          // a dry run found nothing that would stop its add
};

// How the result of each entry is written for a script: "OUTCOME LINE
// PROGRAM" (LINE "-" for the command line's entry), or one JSON object.
enum class ResultFormat { Text, Json };

// What became of the entries of one run.
struct Tally {
    int entries = 0;
    int added = 0;   // without any message
    int refused = 0; // by the add's checks, before anything was written
    int failed = 0;  // any other message: added with a failure, interrupted, or not stored
    int skipped = 0;
    int checked = 0;
    bool dryRun = false;
    int notTried() const { return entries - added - refused - failed - skipped - checked; }
};

// The most columns that a printed name, path or message fills.
inline constexpr std::size_t kLongestShown = 400;

// A text made safe for a terminal: CR LF (and a lone CR or LF) becomes " / ";
// any other control character, and any byte that is not part of valid UTF-8,
// becomes "?". So a name or path can never move the cursor or send the
// terminal a command. A text wider than `columns` keeps its start and its end
// around an ellipsis ("…").
std::string printable(std::string_view text, std::size_t columns = kLongestShown);

// What velmora2-add tells while it runs and after it. On `out` (standard
// error), for a person: the progress of each entry, one line per message box,
// and the summary, which names the lines of the refused and failed entries.
// On `results` (standard output), for a script: one line per finished entry.
class TerminalReport {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr Clock::duration kRedrawInterval = std::chrono::milliseconds(100);

    // `width` is the terminal's width in columns (0 when unknown); a live line
    // is cut to fit by the columns its letters take (two for a wide one),
    // since a line that wraps cannot be redrawn in place.
    TerminalReport(std::FILE* out, std::FILE* results, ResultFormat format, OutputMode mode,
                   int entries, std::size_t width = 0,
                   std::function<Clock::time_point()> now = &Clock::now);

    // Entry `number` (counted from 1) starts; `line` is its CSV line, 0 for
    // the command line's entry.
    void startEntry(int number, int line, std::string_view program);
    // The add is about to copy into `file` ("Picture.bmp", "Setup.exe").
    void copyStarting(std::string_view file);
    // The caption the add sets during a copy: "<n>% Complete".
    void caption(std::string_view text);
    // A message box of the add: one line "TITLE: text", after "line N: " for
    // an entry of a CSV list.
    void message(std::string_view title, std::string_view text);
    // The entry's result line; in quiet mode only for a refused or failed one.
    void finishEntry(Outcome outcome);
    // The run stopped at `signal`, leaving `notTried` entries.
    void interrupted(int signal, int notTried);
    // "340 entries: 335 added, 3 refused (lines 4, 9, 12), 2 with failures
    // (lines 7, 30)"; in quiet mode only when not every entry was added.
    void summary(const Tally& tally);

    // The terminal now shows `width` columns (0: unknown); the next live line
    // is cut to fit them.
    void setWidth(std::size_t width) { m_width = width; }
    // The descriptor the report writes to.
    int fd() const { return fileno(m_out); }

    // Whether a write has failed (the terminal closed, the reader of a pipe
    // gone away); nothing is written after that.
    bool lost() const { return m_lost; }

private:
    void drawLive();
    void clearLive();
    void write(const std::string& text);
    void writeTo(std::FILE* file, const std::string& text);
    void writeResult(Outcome outcome);

    std::FILE* m_out;
    std::FILE* m_results;
    ResultFormat m_format;
    OutputMode m_mode;
    int m_entries;
    std::size_t m_width;
    std::function<Clock::time_point()> m_now;

    int m_number = 0;
    int m_line = 0;
    std::string m_program;
    std::string m_file;
    std::string m_percent;
    std::string m_rawProgram;
    std::vector<std::string> m_messages; // of the entry under way, for its JSON line
    std::vector<int> m_refusedLines;
    std::vector<int> m_failedLines;
    Outcome m_lastOutcome = Outcome::Added;
    bool m_liveShown = false;
    bool m_everDrawn = false;
    bool m_lost = false;
    Clock::time_point m_lastDraw{};
};

} // namespace velmora
