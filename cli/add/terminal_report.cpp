#include "cli/add/terminal_report.h"

#include "catalogue/utf8.h"
#include "cli/add/display_width.h"
#include "cli/add/json_text.h"

#include <algorithm>
#include <csignal>
#include <cstring>

namespace velmora {
namespace {

// Erases from the cursor to the end of the line: what is left of a longer
// line drawn before.
constexpr std::string_view kEraseToEnd = "\x1b[K";
constexpr std::string_view kEllipsis = "\u2026";

// C0 controls, DEL, and the C1 controls (U+0080 to U+009F), among them the
// one-character command introducer CSI.
bool isControl(unsigned codePoint) {
    return codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F);
}

std::string signalName(int signal) {
    // "INT", "QUIT", ...; none for a real-time signal.
    const char* abbreviation = sigabbrev_np(signal);
    return abbreviation != nullptr ? std::string("SIG") + abbreviation
                                   : "signal " + std::to_string(signal);
}

// The words of the result lines, which scripts read: never changed.
const char* outcomeWord(Outcome outcome) {
    switch (outcome) {
    case Outcome::Added:
        return "added";
    case Outcome::Refused:
        return "refused";
    case Outcome::Failed:
        return "failed";
    case Outcome::AddedWithFailure:
        // The row is stored, a later step failed: a script must look at it,
        // and the result words stay the documented few.
        return "failed";
    case Outcome::Interrupted:
        return "failed";
    case Outcome::Skipped:
        return "skipped";
    case Outcome::Checked:
        return "checked";
    }
    return "?";
}

// " (line 4)", " (lines 4, 9)"; nothing without lines.
std::string linesNote(const std::vector<int>& lines) {
    if (lines.empty()) {
        return {};
    }
    std::string note = lines.size() == 1 ? " (line " : " (lines ";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        note += (i == 0 ? "" : ", ") + std::to_string(lines[i]);
    }
    return note + ")";
}

// The longest start of a printable text that fills at most `columns`
// columns of a terminal.
std::string_view leadingColumns(std::string_view text, std::size_t columns) {
    std::size_t end = 0;
    std::size_t used = 0;
    while (end < text.size()) {
        const Utf8Character c = decodeUtf8(text.substr(end));
        const std::size_t width = displayWidth(c.codePoint);
        if (used + width > columns) {
            break;
        }
        used += width;
        end += std::max<std::size_t>(1, c.length);
    }
    return text.substr(0, end);
}

// The longest end of a printable text (valid UTF-8) that fills at most
// `columns` columns.
std::string_view trailingColumns(std::string_view text, std::size_t columns) {
    std::size_t start = text.size();
    std::size_t used = 0;
    while (start > 0) {
        std::size_t lead = start - 1;
        while (lead > 0 && (static_cast<unsigned char>(text[lead]) & 0xC0U) == 0x80U) {
            --lead;
        }
        const std::size_t width = displayWidth(decodeUtf8(text.substr(lead)).codePoint);
        if (used + width > columns) {
            break;
        }
        used += width;
        start = lead;
    }
    return text.substr(start);
}

} // namespace

std::string printable(std::string_view text, std::size_t columns) {
    std::string shown;
    shown.reserve(text.size());
    while (!text.empty()) {
        if (text.starts_with("\r\n") || text.front() == '\r' || text.front() == '\n') {
            shown += " / ";
            text.remove_prefix(text.starts_with("\r\n") ? 2 : 1);
            continue;
        }
        const Utf8Character c = decodeUtf8(text);
        if (c.length == 0 || isControl(c.codePoint)) {
            shown += '?';
            text.remove_prefix(std::max<std::size_t>(1, c.length));
            continue;
        }
        shown.append(text.substr(0, c.length));
        text.remove_prefix(c.length);
    }
    if (displayWidth(shown) <= columns) {
        return shown;
    }
    if (columns == 0) {
        return {};
    }
    // The start and the end stay: a path's file name, a message's reason.
    const std::size_t head = (columns - 1) / 2;
    return std::string(leadingColumns(shown, head)) + std::string(kEllipsis) +
           std::string(trailingColumns(shown, columns - 1 - head));
}

TerminalReport::TerminalReport(std::FILE* out, std::FILE* results, ResultFormat format,
                               OutputMode mode, int entries, std::size_t width,
                               std::function<Clock::time_point()> now)
    : m_out(out), m_results(results), m_format(format), m_mode(mode), m_entries(entries),
      m_width(width), m_now(std::move(now)) {}

void TerminalReport::startEntry(int number, int line, std::string_view program) {
    m_number = number;
    m_line = line;
    m_program = printable(program);
    m_rawProgram = std::string(program);
    m_messages.clear();
    m_file.clear();
    m_percent.clear();
    drawLive();
}

void TerminalReport::copyStarting(std::string_view file) {
    m_file = printable(file);
    m_percent.clear();
    drawLive();
}

void TerminalReport::caption(std::string_view text) {
    const std::size_t percentSign = text.find('%');
    if (percentSign == std::string_view::npos) {
        return;
    }
    m_percent = printable(text.substr(0, percentSign + 1));
    drawLive();
}

void TerminalReport::message(std::string_view title, std::string_view text) {
    clearLive();
    std::string line = m_line > 0 ? "line " + std::to_string(m_line) + ": " : std::string();
    write(line + printable(title) + ": " + printable(text) + "\n");
    m_messages.push_back(std::string(title) + ": " + std::string(text));
}

void TerminalReport::finishEntry(Outcome outcome) {
    m_lastOutcome = outcome;
    const bool failed = outcome == Outcome::Failed || outcome == Outcome::Interrupted;
    if (outcome == Outcome::Refused && m_line > 0) {
        m_refusedLines.push_back(m_line);
    } else if (failed && m_line > 0) {
        m_failedLines.push_back(m_line);
    }
    clearLive();
    if (m_mode != OutputMode::Quiet || outcome == Outcome::Refused || failed) {
        writeResult(outcome);
    }
}

void TerminalReport::writeResult(Outcome outcome) {
    const std::string line = m_line > 0 ? std::to_string(m_line) : std::string();
    if (m_format == ResultFormat::Text) {
        writeTo(m_results, std::string(outcomeWord(outcome)) + " " + (line.empty() ? "-" : line) +
                               " " + m_program + "\n");
        return;
    }
    std::string json = "{\"result\":\"" + std::string(outcomeWord(outcome)) +
                       "\",\"line\":" + (line.empty() ? "null" : line) + ",\"program\":";
    appendJsonString(json, m_rawProgram);
    if (outcome == Outcome::Interrupted) {
        json += ",\"interrupted\":true";
    }
    json += ",\"messages\":[";
    for (std::size_t i = 0; i < m_messages.size(); ++i) {
        if (i > 0) {
            json += ',';
        }
        appendJsonString(json, m_messages[i]);
    }
    writeTo(m_results, json + "]}\n");
}

void TerminalReport::interrupted(int signal, int notTried) {
    clearLive();
    std::string text = "Interrupted by " + signalName(signal);
    if (m_lastOutcome == Outcome::Interrupted) {
        const std::string where =
            m_line > 0 ? "line " + std::to_string(m_line) + " (" + m_program + ")" : m_program;
        text += ": the copy of " + where + " was cancelled";
    }
    if (notTried > 0) {
        text += "; " + std::to_string(notTried) + (notTried == 1 ? " entry" : " entries") +
                " not tried";
    }
    write(text + "\n");
}

void TerminalReport::summary(const Tally& tally) {
    const int done = tally.added + tally.skipped + tally.checked;
    if (m_mode == OutputMode::Quiet && done == tally.entries) {
        return;
    }
    clearLive();
    std::string text =
        std::to_string(tally.entries) + (tally.entries == 1 ? " entry: " : " entries: ") +
        (tally.dryRun ? std::to_string(tally.checked) + " could be added, "
                      : std::to_string(tally.added) + " added, ") +
        std::to_string(tally.refused) + " refused" + linesNote(m_refusedLines) + ", " +
        std::to_string(tally.failed) + " with failures" + linesNote(m_failedLines);
    if (tally.skipped > 0) {
        text += ", " + std::to_string(tally.skipped) + " skipped (already in the catalogue)";
    }
    if (tally.notTried() > 0) {
        text += ", " + std::to_string(tally.notTried()) + " not tried";
    }
    if (tally.dryRun) {
        text += "; nothing was written (--dry-run)";
    }
    write(text + "\n");
}

void TerminalReport::drawLive() {
    if (m_mode != OutputMode::Live) {
        return;
    }
    const Clock::time_point now = m_now();
    if (m_everDrawn && now - m_lastDraw < kRedrawInterval) {
        return;
    }
    std::string text =
        "[" + std::to_string(m_number) + "/" + std::to_string(m_entries) + "] " + m_program;
    if (!m_file.empty()) {
        text += ": " + m_file;
        if (!m_percent.empty()) {
            text += " " + m_percent;
        }
    }
    if (m_width > 1) {
        text = std::string(leadingColumns(text, m_width - 1));
    }
    write("\r" + text + std::string(kEraseToEnd));
    m_liveShown = true;
    m_everDrawn = true;
    m_lastDraw = now;
}

void TerminalReport::clearLive() {
    if (m_liveShown) {
        write("\r" + std::string(kEraseToEnd));
        m_liveShown = false;
    }
}

void TerminalReport::write(const std::string& text) {
    writeTo(m_out, text);
}

void TerminalReport::writeTo(std::FILE* file, const std::string& text) {
    // A failed write would fail again, and half a line is worth nothing.
    if (m_lost) {
        return;
    }
    if (std::fwrite(text.data(), 1, text.size(), file) != text.size() || std::fflush(file) != 0) {
        m_lost = true;
    }
}

} // namespace velmora
