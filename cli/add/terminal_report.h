#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

namespace velmora {

enum class OutputMode {
    Live,  // a terminal: one line per entry, redrawn while its files are copied
    Lines, // a pipe or a file: one line per finished entry, nothing redrawn
    Quiet, // the failures only
};

// AddedWithFailure: the row is stored, a later step (the folder, a copy) failed.
enum class Outcome { Added, Refused, Failed, AddedWithFailure, Interrupted };

// What became of the entries of one run.
struct Tally {
    int entries = 0;
    int added = 0;   // without any message
    int refused = 0; // by the add's checks, before anything was written
    int failed = 0;  // any other message: added with a failure, interrupted, or not stored
    int notTried() const { return entries - added - refused - failed; }
};

// The most columns that a printed name, path or message fills.
inline constexpr std::size_t kLongestShown = 400;

// A text made safe for a terminal: CR LF (and a lone CR or LF) becomes " / ";
// any other control character, and any byte that is not part of valid UTF-8,
// becomes "?". So a name or path can never move the cursor or send the
// terminal a command. A text wider than `columns` keeps its start and its end
// around an ellipsis ("…").
std::string printable(std::string_view text, std::size_t columns = kLongestShown);

// What a person reads while velmora2-add runs and after it: the progress of
// each entry, one line per message box, and the summary.
class TerminalReport {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr Clock::duration kRedrawInterval = std::chrono::milliseconds(100);

    // `width` is the terminal's width in columns (0 when unknown); a live line
    // is cut to fit by the columns its letters take (two for a wide one),
    // since a line that wraps cannot be redrawn in place.
    TerminalReport(std::FILE* out, OutputMode mode, int entries, std::size_t width = 0,
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
    void finishEntry(Outcome outcome);
    // The run stopped at `signal`, leaving `notTried` entries.
    void interrupted(int signal, int notTried);
    // "340 entries: 335 added, 3 refused, 2 with failures"; in quiet mode only
    // when not every entry was added.
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

    std::FILE* m_out;
    OutputMode m_mode;
    int m_entries;
    std::size_t m_width;
    std::function<Clock::time_point()> m_now;

    int m_number = 0;
    int m_line = 0;
    std::string m_program;
    std::string m_file;
    std::string m_percent;
    Outcome m_lastOutcome = Outcome::Added;
    bool m_liveShown = false;
    bool m_everDrawn = false;
    bool m_lost = false;
    Clock::time_point m_lastDraw{};
};

} // namespace velmora
