#pragma once

#include "cli/add/list_decoder.h"

#include <climits>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// One field of a row. Only the start of an over-long field is kept.
struct CsvField {
    std::string text;
    std::size_t length = 0; // in the list, in bytes
};

// One row, and the line of the list on which it starts.
struct CsvRow {
    int line = 0;
    std::vector<CsvField> fields; // the first kMostFields only
    std::size_t fieldCount = 0;
};

// Reads the rows of an RFC 4180 text as a stream: a field may be quoted ("),
// holding separators, line breaks and doubled quotes; CR LF, LF and a lone CR
// each end a line; empty lines are skipped; spaces belong to the field. A
// quote elsewhere, a quoted field never closed and a NUL character are
// faults.
//
// Our own rather than libcsv: libcsv holds each field whole, however long, and
// cannot pass over one, while a list of any size must be read in bounded
// memory. Here a field keeps at most kLongestField bytes and a row at most
// kMostFields fields; the rest is counted, not kept.
class CsvReader {
public:
    // The longest field kept: the longest path there can be.
    static constexpr std::size_t kLongestField = PATH_MAX - 1;
    static constexpr std::size_t kMostFields = 8;

    // Reads `text`, then what `decoder` (may be null) hands over.
    CsvReader(ListDecoder* decoder, std::string text, char separator);

    // The next row; none at the end or at a fault.
    std::optional<CsvRow> next();
    // Why the text cannot be read ("line 3, column 7: ..."); empty if it can.
    const std::string& fault() const { return m_fault; }

private:
    enum class State { BetweenRows, FieldStart, Unquoted, Quoted, QuoteInQuoted };

    bool refill();
    bool takeRun();
    void endField();
    std::optional<CsvRow> endRow();
    void failHere(const std::string& what);

    ListDecoder* m_decoder;
    std::string m_text;
    std::size_t m_at = 0;
    char m_separator;
    State m_state = State::BetweenRows;
    CsvRow m_row;
    CsvField m_field;
    int m_line = 1;
    std::size_t m_column = 1; // of the next character, counted in code points
    bool m_afterCr = false;
    bool m_ended = false;
    std::string m_fault;
};

} // namespace velmora
