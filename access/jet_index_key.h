#pragma once

#include "access/jet_row_encoding.h"

#include <optional>
#include <vector>

// Index keys: each column a flag byte (0x7F a value, 0x00 NULL) and its value
// in an order that compares byte by byte, the whole inverted for a descending
// column; a Yes/No column is 0x00 for Yes and 0xFF for No. Text keys use the
// engine's collation, which is not written here.
namespace velmora::jet {

// Whether a key of this column type can be written.
bool keyEncodable(unsigned type);

// Appends one column's part of a key; `value.bytes` is the field as the row
// stores it (little-endian).
void appendKeyColumn(std::vector<unsigned char>& key, unsigned type, const FieldValue& value,
                     bool ascending);

} // namespace velmora::jet
