#include "access/jet_default_value.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>

namespace velmora::jet {
namespace {

using Kind = ExpressionValue::Kind;

template <typename T> std::vector<unsigned char> little(T value) {
    std::vector<unsigned char> out(sizeof(T));
    std::memcpy(out.data(), &value, sizeof(T));
    return out; // the machines we build for are little-endian, as Jet is
}

std::optional<double> defaultNumberOf(const ExpressionValue& value) {
    if (value.kind != Kind::Text) {
        return value.number;
    }
    const std::string& text = value.text;
    char* end = nullptr;
    const double number = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(number)) {
        return std::nullopt;
    }
    return number;
}

std::optional<FieldValue> whole(double value, double low, double high, std::size_t size) {
    const double rounded = roundHalfEven(value);
    if (rounded < low || rounded > high) {
        return std::nullopt;
    }
    if (size == 1) {
        return FieldValue::of({static_cast<unsigned char>(rounded)});
    }
    if (size == 2) {
        return FieldValue::of(little(static_cast<std::int16_t>(rounded)));
    }
    return FieldValue::of(little(static_cast<std::int32_t>(rounded)));
}

// The digits of a Decimal's unscaled value: from the literal as written when
// there is one (exact), else from the number; rounded at the scale, halves
// away from zero. Nothing past the precision.
std::optional<FieldValue> decimal(const ColumnDefinition& column, const ExpressionValue& value,
                                  double number) {
    std::string text = value.literal;
    if (text.empty() || text.find_first_of("eE") != std::string::npos) {
        char formatted[400];
        std::snprintf(formatted, sizeof formatted, "%.*f", static_cast<int>(column.decimalScale),
                      number);
        text = formatted;
    }
    const bool negative = !text.empty() && text.front() == '-';
    if (negative || (!text.empty() && text.front() == '+')) {
        text.erase(0, 1);
    }
    const auto point = text.find('.');
    const std::string integer = text.substr(0, point);
    std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
    const bool roundUp =
        fraction.size() > column.decimalScale && fraction[column.decimalScale] >= '5';
    fraction.resize(column.decimalScale, '0');
    std::string digits = integer + fraction;
    if (roundUp) {
        std::size_t k = digits.size();
        while (k > 0 && digits[k - 1] == '9') {
            digits[--k] = '0';
        }
        if (k == 0) {
            digits.insert(0, 1, '1');
        } else {
            ++digits[k - 1];
        }
    }
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
    if (digits.size() > column.decimalPrecision || digits.size() > 28) {
        return std::nullopt;
    }
    // The magnitude as 16 bytes, most significant first.
    std::array<unsigned, 16> magnitude{};
    for (const char d : digits) {
        unsigned carry = static_cast<unsigned>(d - '0');
        for (std::size_t k = magnitude.size(); k-- > 0;) {
            const unsigned next = magnitude[k] * 10 + carry;
            magnitude[k] = next & 0xFF;
            carry = next >> 8;
        }
    }
    // A sign byte, then four 32-bit words, most significant first, each little-endian.
    std::vector<unsigned char> out{
        static_cast<unsigned char>(negative && !digits.empty() ? 0x80 : 0)};
    for (std::size_t word = 0; word < 4; ++word) {
        for (std::size_t k = 4; k-- > 0;) {
            out.push_back(static_cast<unsigned char>(magnitude[word * 4 + k]));
        }
    }
    return FieldValue::of(std::move(out));
}

std::optional<FieldValue> text(const ColumnDefinition& column, const ExpressionValue& value) {
    const std::u16string units = utf16FromUtf8(expressionText(value));
    if (column.type == kText && units.size() * 2 > column.length) {
        return std::nullopt;
    }
    // A memo compresses only up to 1024 characters, as the add writes it.
    const bool compress = column.compressible() && (column.type == kText || units.size() <= 1024);
    return FieldValue::of(jetText(units, compress));
}

} // namespace

std::optional<FieldValue> storedValue(const ColumnDefinition& column,
                                      const ExpressionValue& value) {
    if (value.null()) {
        return column.type == kBoolean ? std::nullopt : std::optional(FieldValue{});
    }
    if (column.type == kText || column.type == kMemo) {
        // A date's text depends on the Windows locale the engine runs under.
        return value.kind == Kind::Date ? std::nullopt : text(column, value);
    }
    std::optional<double> number = defaultNumberOf(value);
    if (column.type == kBoolean && !number && value.kind == Kind::Text) {
        const std::string& word = value.text;
        for (const char* yes : {"True", "Yes", "On"}) {
            if (strcasecmp(word.c_str(), yes) == 0) {
                number = -1;
            }
        }
        for (const char* no : {"False", "No", "Off"}) {
            if (strcasecmp(word.c_str(), no) == 0) {
                number = 0;
            }
        }
    }
    if (!number) {
        return std::nullopt;
    }
    const double n = *number;
    switch (column.type) {
    case kBoolean:
        return FieldValue::ofBoolean(n != 0);
    case kByte:
        return whole(n, 0, 255, 1);
    case kInteger:
        return whole(n, -32768, 32767, 2);
    case kLong:
        return whole(n, -2147483648.0, 2147483647.0, 4);
    case kCurrency: {
        const double scaled = roundHalfEven(n * 10000);
        if (std::fabs(scaled) >= 9.2233720368547758e18) {
            return std::nullopt;
        }
        return FieldValue::of(little(static_cast<std::int64_t>(scaled)));
    }
    case kSingle:
        if (std::fabs(n) > 3.402823466e38) {
            return std::nullopt;
        }
        return FieldValue::of(little(static_cast<float>(n)));
    case kDouble:
        return FieldValue::of(little(n));
    case kDateTime:
        // A text is not read as a date: its form depends on the Windows locale.
        if (value.kind == Kind::Text) {
            return std::nullopt;
        }
        return FieldValue::of(little(n));
    case kNumeric:
        return decimal(column, value, n);
    default:
        return std::nullopt; // binary, OLE object, replication ID: no constant fits
    }
}

std::string_view defaultExpression(std::string_view expression) {
    const auto start = expression.find_first_not_of(" \t\r\n");
    if (start != std::string_view::npos && expression[start] == '=') {
        return expression.substr(start + 1);
    }
    return expression;
}

std::optional<FieldValue> evaluateDefault(const ColumnDefinition& column,
                                          std::string_view expression, std::time_t now) {
    try {
        const Expression parsed = Expression::parse(defaultExpression(expression));
        ExpressionContext context;
        context.now = now;
        return storedValue(column, parsed.evaluate(context));
    } catch (const ExpressionError&) {
        return std::nullopt;
    }
}

} // namespace velmora::jet
