#pragma once

#include "cli/add/list_input.h"

#include <iconv.h>
#include <string>

namespace velmora {

// Turns the bytes of a list into UTF-8 text, a piece at a time. Without an
// encoding: UTF-8 (a byte order mark dropped), or UTF-16 LE or BE when the
// list starts with that byte order mark; a byte that is not well-formed UTF-8
// is a fault. With an encoding (any name iconv knows): converted from it.
class ListDecoder {
public:
    ListDecoder(ListInput& input, const std::string& encoding);
    ~ListDecoder();
    ListDecoder(const ListDecoder&) = delete;
    ListDecoder& operator=(const ListDecoder&) = delete;

    // The next piece of text; false at the end or at a fault. All the text
    // before a fault is handed over first.
    bool read(std::string& piece);

    // Why the text could not be read; empty when it ended well.
    const std::string& fault() const { return m_fault; }
    // Whether the fault lies at the end of the text handed over so far (a
    // byte that cannot be decoded), rather than in the input as a whole.
    bool faultAtPosition() const { return m_faultAtPosition; }

private:
    bool convert(std::string& piece, bool atEnd);
    void validate(std::string& piece, bool atEnd);

    ListInput& m_input;
    std::string m_encoding; // what the bytes are converted from; empty: UTF-8
    bool m_named = false;   // given by the user, not found from a byte order mark
    iconv_t m_iconv = reinterpret_cast<iconv_t>(-1);
    std::string m_pending; // bytes read and not yet decoded
    bool m_started = false;
    bool m_ended = false;
    bool m_anyText = false;
    std::string m_nextFault; // found, told once the text before it is taken
    std::string m_fault;
    bool m_faultAtPosition = false;
};

// A byte as the faults of a list and of the options name it: "0xE8".
std::string hexByte(char byte);

} // namespace velmora
