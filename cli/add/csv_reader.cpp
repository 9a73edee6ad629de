#include "cli/add/csv_reader.h"

#include <algorithm>
#include <climits>
#include <utility>

namespace velmora {

CsvReader::CsvReader(ListDecoder* decoder, std::string text, char separator)
    : m_decoder(decoder), m_text(std::move(text)), m_separator(separator) {}

bool CsvReader::refill() {
    m_at = 0;
    m_text.clear();
    if (m_decoder == nullptr) {
        return false;
    }
    if (m_decoder->read(m_text)) {
        return true;
    }
    if (!m_decoder->fault().empty()) {
        if (m_decoder->faultAtPosition()) {
            failHere(m_decoder->fault());
        } else {
            m_fault = m_decoder->fault();
        }
    }
    return false;
}

void CsvReader::failHere(const std::string& what) {
    m_fault =
        "line " + std::to_string(m_line) + ", column " + std::to_string(m_column) + ": " + what;
}

void CsvReader::endField() {
    if (m_row.fields.size() < kMostFields) {
        m_row.fields.push_back(std::move(m_field));
    }
    ++m_row.fieldCount;
    m_field = {};
    m_state = State::FieldStart;
}

std::optional<CsvRow> CsvReader::endRow() {
    endField();
    m_state = State::BetweenRows;
    return std::exchange(m_row, {});
}

// Takes the bytes inside a field up to the next one that may end it, at
// once: most of a list. False when there is none to take.
bool CsvReader::takeRun() {
    const bool quoted = m_state == State::Quoted;
    const std::size_t start = m_at;
    std::size_t end = start;
    std::size_t characters = 0;
    for (; end < m_text.size(); ++end) {
        const char c = m_text[end];
        if (c == '"' || c == '\r' || c == '\n' || c == '\0' || (!quoted && c == m_separator)) {
            break;
        }
        characters += (static_cast<unsigned char>(c) & 0xC0U) != 0x80U;
    }
    if (end == start) {
        return false;
    }
    const std::size_t length = end - start;
    if (m_field.length < kLongestField) {
        m_field.text.append(m_text, start, std::min(length, kLongestField - m_field.length));
    }
    m_field.length += length;
    m_column += characters;
    m_afterCr = false;
    m_at = end;
    return true;
}

std::optional<CsvRow> CsvReader::next() {
    while (!m_ended && m_fault.empty()) {
        if (m_at == m_text.size() && !refill()) {
            if (!m_fault.empty()) {
                return std::nullopt;
            }
            m_ended = true;
            switch (m_state) {
            case State::BetweenRows:
                return std::nullopt;
            case State::Quoted:
                m_fault = "line " + std::to_string(m_row.line) + ": a quoted field is never closed";
                return std::nullopt;
            default:
                return endRow();
            }
        }
        if ((m_state == State::Unquoted || m_state == State::Quoted) && takeRun()) {
            continue;
        }
        const char c = m_text[m_at];
        const bool lineBreak = c == '\r' || c == '\n';
        if (c == '\0') {
            failHere("a NUL character; a list saved as UTF-16 without its byte order mark reads "
                     "with --encoding UTF-16LE (or UTF-16BE)");
            return std::nullopt;
        }
        std::optional<CsvRow> finished;
        switch (m_state) {
        case State::BetweenRows:
            if (lineBreak) {
                break;
            }
            m_row.line = m_line;
            m_state = State::FieldStart;
            [[fallthrough]];
        case State::FieldStart:
            if (c == '"') {
                m_state = State::Quoted;
            } else if (c == m_separator) {
                endField();
            } else if (lineBreak) {
                finished = endRow();
            } else {
                m_state = State::Unquoted;
                m_field.text += c;
                ++m_field.length;
            }
            break;
        case State::Unquoted:
            if (c == m_separator) {
                endField();
            } else if (lineBreak) {
                finished = endRow();
            } else if (c == '"') {
                failHere("a quote inside a field that does not start with one");
                return std::nullopt;
            } else if (++m_field.length <= kLongestField) {
                m_field.text += c;
            }
            break;
        case State::Quoted:
            if (c == '"') {
                m_state = State::QuoteInQuoted;
            } else if (++m_field.length <= kLongestField) {
                m_field.text += c;
            }
            break;
        case State::QuoteInQuoted:
            if (c == '"') {
                m_state = State::Quoted;
                if (++m_field.length <= kLongestField) {
                    m_field.text += c;
                }
            } else if (c == m_separator) {
                endField();
            } else if (lineBreak) {
                finished = endRow();
            } else {
                failHere("text after the closing quote of a field");
                return std::nullopt;
            }
            break;
        }
        // Where the next character stands.
        ++m_at;
        if (c == '\r' || (c == '\n' && !m_afterCr)) {
            m_line += m_line < INT_MAX ? 1 : 0; // past that, the lines are not told apart
            m_column = 1;
        } else if (c != '\n' && (static_cast<unsigned char>(c) & 0xC0U) != 0x80U) {
            ++m_column;
        }
        m_afterCr = c == '\r';
        if (finished) {
            return finished;
        }
    }
    return std::nullopt;
}

} // namespace velmora
