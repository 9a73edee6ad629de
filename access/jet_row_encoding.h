#pragma once

#include "access/jet_writable_table.h"

#include <optional>
#include <string_view>
#include <vector>

// Turning values into the bytes of a Jet 4 row.
namespace velmora::jet {

// One column's value in a new row: NULL (nothing), or the field's bytes as
// the row stores them (a long value's 12-byte header and any inline data);
// a boolean's value lives in the null mask.
struct FieldValue {
    bool null = true;
    std::vector<unsigned char> bytes;
    bool boolean = false;

    static FieldValue of(std::vector<unsigned char> bytes) {
        return {false, std::move(bytes), false};
    }
    static FieldValue ofBoolean(bool value) { return {false, {}, value}; }
};

// UTF-8 as UTF-16 code units (a malformed sequence becomes U+FFFD).
std::u16string utf16FromUtf8(std::string_view utf8);

// Jet 4 text bytes: UTF-16LE, or the compressed form (FF FE, then one byte
// per character, a 0 byte switching to and from two) when `compress` allows
// it and it is shorter. A text holding a character whose low byte is 0 is
// never compressed.
std::vector<unsigned char> jetText(std::u16string_view text, bool compress);

// The row's bytes, values given in the order of definition.columns().
// Throws JetWriteError (Rejected) when the row does not fit on a page.
std::vector<unsigned char> encodeRow(const WritableTable& definition,
                                     const std::vector<FieldValue>& values);

} // namespace velmora::jet
