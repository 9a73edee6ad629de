#include "cli/add/progress_report.h"

#include "catalogue/utf8.h"

#include <algorithm>
#include <csignal>
#include <optional>

namespace velmora {
namespace {

// Erases from the cursor to the end of the line: what is left of a longer
// line drawn before.
constexpr std::string_view kEraseToEnd = "\x1b[K";

// C0 controls, DEL, and the C1 controls (U+0080 to U+009F), among them the
// one-character command introducer CSI.
bool isControl(char32_t codePoint) {
    return codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F);
}

std::string signalName(int signal) {
    switch (signal) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    default:
        return "signal " + std::to_string(signal);
    }
}

const char* outcomeWord(Outcome outcome) {
    switch (outcome) {
    case Outcome::Added:
        return "added";
    case Outcome::Refused:
        return "refused";
    case Outcome::Failed:
        return "failed";
    case Outcome::Interrupted:
        return "interrupted";
    }
    return "?";
}

// The first `columns` characters of a printable text.
std::string_view leadingCharacters(std::string_view text, std::size_t columns) {
    std::size_t end = 0;
    for (std::size_t count = 0; end < text.size() && count < columns; ++count) {
        const std::optional<CodePoint> c = decodeUtf8(text.substr(end));
        end += c ? c->length : 1;
    }
    return text.substr(0, end);
}

} // namespace

std::string printable(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    while (!text.empty()) {
        if (text.starts_with("\r\n") || text.front() == '\r' || text.front() == '\n') {
            shown += " / ";
            text.remove_prefix(text.starts_with("\r\n") ? 2 : 1);
            continue;
        }
        const std::optional<CodePoint> c = decodeUtf8(text);
        if (!c || isControl(c->value)) {
            shown += '?';
            text.remove_prefix(c ? c->length : 1);
            continue;
        }
        shown.append(text.substr(0, c->length));
        text.remove_prefix(c->length);
    }
    return shown;
}

ProgressReport::ProgressReport(std::FILE* out, OutputMode mode, int entries, std::size_t width,
                               std::function<Clock::time_point()> now)
    : m_out(out), m_mode(mode), m_entries(entries), m_width(width), m_now(std::move(now)) {}

void ProgressReport::startEntry(int number, int line, std::string_view program) {
    m_number = number;
    m_line = line;
    m_program = printable(program);
    m_file.clear();
    m_percent.clear();
    drawLive();
}

void ProgressReport::copyStarting(std::string_view file) {
    m_file = printable(file);
    m_percent.clear();
    drawLive();
}

void ProgressReport::caption(std::string_view text) {
    const std::size_t percentSign = text.find('%');
    if (percentSign == std::string_view::npos) {
        return;
    }
    m_percent = printable(text.substr(0, percentSign + 1));
    drawLive();
}

void ProgressReport::message(std::string_view title, std::string_view text) {
    clearLive();
    std::string line = m_line > 0 ? "line " + std::to_string(m_line) + ": " : std::string();
    write(line + printable(title) + ": " + printable(text) + "\n");
}

void ProgressReport::finishEntry(Outcome outcome) {
    m_lastOutcome = outcome;
    if (m_mode == OutputMode::Quiet) {
        return;
    }
    const std::string text = "[" + std::to_string(m_number) + "/" + std::to_string(m_entries) +
                             "] " + m_program + ": " + outcomeWord(outcome);
    if (m_liveShown) {
        write("\r" + text + std::string(kEraseToEnd) + "\n");
        m_liveShown = false;
    } else {
        write(text + "\n");
    }
}

void ProgressReport::interrupted(int signal, int notTried) {
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

void ProgressReport::summary(const Tally& tally) {
    if (m_mode == OutputMode::Quiet && tally.added == tally.entries) {
        return;
    }
    clearLive();
    std::string text = std::to_string(tally.entries) +
                       (tally.entries == 1 ? " entry: " : " entries: ") +
                       std::to_string(tally.added) + " added, " + std::to_string(tally.refused) +
                       " refused, " + std::to_string(tally.failed) + " with failures";
    if (tally.notTried() > 0) {
        text += ", " + std::to_string(tally.notTried()) + " not tried";
    }
    write(text + "\n");
}

void ProgressReport::drawLive() {
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
        text = std::string(leadingCharacters(text, m_width - 1));
    }
    write("\r" + text + std::string(kEraseToEnd));
    m_liveShown = true;
    m_everDrawn = true;
    m_lastDraw = now;
}

void ProgressReport::clearLive() {
    if (m_liveShown) {
        write("\r" + std::string(kEraseToEnd));
        m_liveShown = false;
    }
}

void ProgressReport::write(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), m_out);
    std::fflush(m_out);
}

} // namespace velmora
