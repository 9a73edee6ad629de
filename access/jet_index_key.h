#pragma once

#include "access/jet_row_encoding.h"

#include <optional>
#include <string>
#include <vector>

// Index keys: each column a flag byte (0x7F a value, 0x00 NULL) and its value
// in an order that compares byte by byte, the whole inverted for a descending
// column; a Yes/No column is 0x00 for Yes and 0xFF for No. Text and memo
// keys follow the "General" sort order (access/jet_text_key.h).
namespace velmora::jet {

// Whether a key of this column type can be written (text and memo: in the
// sort orders textKeyEncodable() allows).
bool keyEncodable(unsigned type);
bool textKeyEncodable(const ColumnDefinition& column);

// The name of a text column's sort order, for messages.
std::string sortOrderName(const ColumnDefinition& column);

// Appends one column's part of a key; `value.bytes` is the field as the row
// stores it (little-endian).
void appendKeyColumn(std::vector<unsigned char>& key, unsigned type, const FieldValue& value,
                     bool ascending);

// Appends a Text or Memo column's part (`text` nothing for NULL); a
// descending part is inverted and then ended with 0x00. Returns the first
// character whose weight is not known, and appends nothing then.
std::optional<char16_t> appendTextKeyColumn(std::vector<unsigned char>& key,
                                            const std::optional<std::u16string>& text,
                                            bool ascending);

} // namespace velmora::jet
