#include "access/jet_row_encoding.h"

#include "access/jet_data_page.h"
#include "access/jet_write_error.h"

#include <algorithm>

namespace velmora::jet {

std::u16string utf16FromUtf8(std::string_view utf8) {
    std::u16string out;
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        std::size_t length = 0;
        char32_t code = 0;
        if (lead < 0x80) {
            length = 1;
            code = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2;
            code = lead & 0x1FU;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            code = lead & 0x0FU;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            code = lead & 0x07U;
        }
        bool valid = length != 0 && i + length <= utf8.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = code << 6 | (next & 0x3FU);
        }
        static constexpr char32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (valid &&
            (code < kLeast[length] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000))) {
            valid = false;
        }
        if (!valid) {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        i += length;
    }
    return out;
}

std::vector<unsigned char> jetText(std::u16string_view text, bool compress) {
    std::vector<unsigned char> plain;
    plain.reserve(text.size() * 2);
    for (const char16_t unit : text) {
        plain.push_back(static_cast<unsigned char>(unit & 0xFF));
        plain.push_back(static_cast<unsigned char>(unit >> 8));
    }
    const bool compressible = compress && std::none_of(text.begin(), text.end(),
                                                       [](char16_t u) { return (u & 0xFF) == 0; });
    if (!compressible) {
        return plain;
    }
    std::vector<unsigned char> packed = {0xFF, 0xFE};
    bool oneByte = true;
    for (const char16_t unit : text) {
        const bool narrow = unit < 0x100;
        if (narrow != oneByte) {
            packed.push_back(0);
            oneByte = narrow;
        }
        packed.push_back(static_cast<unsigned char>(unit & 0xFF));
        if (!narrow) {
            packed.push_back(static_cast<unsigned char>(unit >> 8));
        }
    }
    return packed.size() < plain.size() ? packed : plain;
}

std::vector<unsigned char> encodeRow(const JetFormat& format, const TableDefinition& definition,
                                     const std::vector<FieldValue>& values) {
    const auto& columns = definition.columns;
    std::size_t fixedSize = 0;
    for (const ColumnDefinition& column : columns) {
        if (column.fixed() && column.type != kBoolean) {
            fixedSize = std::max<std::size_t>(fixedSize, column.fixedOffset + column.length);
        }
    }
    const unsigned columnCount = definition.maxColumns;
    std::vector<unsigned char> row(2 + fixedSize, 0);
    putLe16(row, 0, columnCount);
    std::vector<unsigned char> nullMask((columnCount + 7) / 8, 0);
    std::vector<const FieldValue*> variable(definition.variableColumns, nullptr);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const ColumnDefinition& column = columns[i];
        const FieldValue& value = values.at(i);
        const bool present = column.type == kBoolean ? value.boolean : !value.null;
        if (present) {
            nullMask[column.number / 8] |= static_cast<unsigned char>(1U << (column.number % 8));
        }
        if (column.type == kBoolean || value.null) {
            continue;
        }
        if (column.fixed()) {
            std::copy(value.bytes.begin(), value.bytes.end(),
                      row.begin() + 2 + static_cast<std::ptrdiff_t>(column.fixedOffset));
        } else {
            variable.at(column.varIndex) = &value;
        }
    }
    if (!variable.empty()) {
        std::vector<std::uint32_t> offsets;
        for (const FieldValue* value : variable) {
            offsets.push_back(static_cast<std::uint32_t>(row.size()));
            if (value != nullptr) {
                row.insert(row.end(), value->bytes.begin(), value->bytes.end());
            }
        }
        const auto end = static_cast<std::uint32_t>(row.size());
        std::vector<unsigned char> tail(2 * (offsets.size() + 2), 0);
        putLe16(tail, 0, end);
        for (std::size_t k = 0; k < offsets.size(); ++k) {
            putLe16(tail, 2 * (offsets.size() - k), offsets[k]);
        }
        putLe16(tail, tail.size() - 2, static_cast<std::uint32_t>(offsets.size()));
        row.insert(row.end(), tail.begin(), tail.end());
    }
    row.insert(row.end(), nullMask.begin(), nullMask.end());
    if (row.size() > maxRowSize(format)) {
        throw JetWriteError(JetWriteError::Kind::Rejected, 3047,
                            "the new row is too large for a page");
    }
    return row;
}

std::optional<std::vector<std::optional<Bytes>>>
rowFields(const JetFormat& format, const TableDefinition& definition, Bytes row) {
    // Jet 4's row: counts and offsets in 16 bits.
    if (format.row.columnCountSize != 2 || format.row.variableOffsetSize != 2 || row.size() < 2) {
        return std::nullopt;
    }
    const std::size_t columns = getLe16(row, 0);
    const std::size_t maskSize = (columns + 7) / 8;
    if (row.size() < 2 + maskSize + 2) {
        return std::nullopt;
    }
    const Bytes mask = row.last(maskSize);
    const std::size_t tailEnd = row.size() - maskSize; // the variable count ends here
    const std::size_t variableCount = getLe16(row, tailEnd - 2);
    if (tailEnd < 2 + 2 * (variableCount + 1) + 2) {
        return std::nullopt;
    }
    const std::size_t offsetsAt = tailEnd - 2 - 2 * (variableCount + 1); // the data's end first
    const auto offset = [&](std::size_t k) { // k == variableCount: where the data ends
        return static_cast<std::size_t>(getLe16(row, tailEnd - 4 - 2 * k));
    };
    std::vector<std::optional<Bytes>> fields(definition.columns.size());
    for (std::size_t i = 0; i < definition.columns.size(); ++i) {
        const ColumnDefinition& column = definition.columns[i];
        const bool present =
            column.number < columns && ((mask[column.number / 8] >> (column.number % 8)) & 1U);
        if (!present) {
            continue;
        }
        if (column.type == kBoolean) {
            fields[i] = Bytes();
        } else if (column.fixed()) {
            const std::size_t start = 2 + column.fixedOffset;
            if (start + column.length > offsetsAt) {
                return std::nullopt;
            }
            fields[i] = row.subspan(start, column.length);
        } else if (column.varIndex < variableCount) {
            const std::size_t start = offset(column.varIndex);
            const std::size_t end = offset(column.varIndex + 1);
            if (start > end || end > offsetsAt) {
                return std::nullopt;
            }
            fields[i] = row.subspan(start, end - start);
        }
    }
    return fields;
}

} // namespace velmora::jet
