#pragma once

#include "access/jet_bytes.h"
#include "access/jet_format.h"
#include "access/jet_table_definition.h"

#include <optional>
#include <string_view>
#include <vector>

// Turning values into the bytes of a Jet 4 row, and a stored row into its fields.
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

// The row's bytes, values given in the order of definition.columns: the
// row's column count, the fixed fields, the variable ones, their offsets
// (last first) between the end of the data and their count, the null mask.
// Throws JetWriteError (Rejected) when the row does not fit on a page.
std::vector<unsigned char> encodeRow(const JetFormat& format, const TableDefinition& definition,
                                     const std::vector<FieldValue>& values);

// The fields of a stored row, in the order of definition.columns: each its
// bytes, or nothing for NULL (a Yes/No column: empty bytes for Yes, nothing
// for No). Nothing at all when the row's offsets do not fit its bytes.
std::optional<std::vector<std::optional<Bytes>>>
rowFields(const JetFormat& format, const TableDefinition& definition, Bytes row);

} // namespace velmora::jet
