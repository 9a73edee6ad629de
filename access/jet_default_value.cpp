#include "access/jet_default_value.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace velmora::jet {
namespace {

std::string_view trim(std::string_view text) {
    while (!text.empty() && std::strchr(" \t\r\n", text.front()) != nullptr) {
        text.remove_prefix(1);
    }
    while (!text.empty() && std::strchr(" \t\r\n", text.back()) != nullptr) {
        text.remove_suffix(1);
    }
    return text;
}

bool sameWord(std::string_view text, std::string_view word) {
    if (text.size() != word.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char a = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] + 32) : text[i];
        if (a != word[i]) {
            return false;
        }
    }
    return true;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
long long daysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

template <typename T> std::vector<unsigned char> little(T value) {
    std::vector<unsigned char> out(sizeof(T));
    std::memcpy(out.data(), &value, sizeof(T));
    return out; // the machines we build for are little-endian, as Jet is
}

// A decimal literal: sign, digits, an optional fraction and exponent.
std::optional<double> number(std::string_view text) {
    const std::string copy(text);
    if (copy.empty() || copy.find_first_not_of("+-0123456789.eE") != std::string::npos) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double value = std::strtod(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<FieldValue> numeric(unsigned type, double value) {
    const auto whole = [&](double low, double high) {
        return value == std::floor(value) && value >= low && value <= high;
    };
    switch (type) {
    case kBoolean:
        return FieldValue::ofBoolean(value != 0);
    case kByte:
        return whole(0, 255) ? std::optional(FieldValue::of({static_cast<unsigned char>(value)}))
                             : std::nullopt;
    case kInteger:
        return whole(-32768, 32767)
                   ? std::optional(FieldValue::of(little(static_cast<std::int16_t>(value))))
                   : std::nullopt;
    case kLong:
        return whole(-2147483648.0, 2147483647.0)
                   ? std::optional(FieldValue::of(little(static_cast<std::int32_t>(value))))
                   : std::nullopt;
    case kCurrency: {
        const double scaled = std::round(value * 10000);
        if (std::fabs(scaled) > 9.0e17 || std::fabs(scaled - value * 10000) > 1e-6) {
            return std::nullopt;
        }
        return FieldValue::of(little(static_cast<std::int64_t>(scaled)));
    }
    case kSingle:
        return FieldValue::of(little(static_cast<float>(value)));
    case kDouble:
    case kDateTime:
        return FieldValue::of(little(value));
    default:
        return std::nullopt;
    }
}

std::optional<FieldValue> text(const ColumnDefinition& column, std::string_view utf8) {
    const std::u16string units = utf16FromUtf8(utf8);
    if (column.type == kText) {
        if (units.size() * 2 > column.length) {
            return std::nullopt;
        }
        return FieldValue::of(jetText(units, column.compressible()));
    }
    return std::nullopt; // a memo default would need a long value: not a constant we keep
}

} // namespace

double jetDateTime(std::time_t when, bool dateOnly) {
    std::tm local{};
    localtime_r(&when, &local);
    const long long days =
        daysFromCivil(local.tm_year + 1900LL, static_cast<unsigned>(local.tm_mon + 1),
                      static_cast<unsigned>(local.tm_mday)) -
        daysFromCivil(1899, 12, 30);
    if (dateOnly) {
        return static_cast<double>(days);
    }
    const int seconds = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    return static_cast<double>(days) + seconds / 86400.0;
}

std::optional<FieldValue> evaluateDefault(const ColumnDefinition& column,
                                          std::string_view expression, std::time_t now) {
    std::string_view e = trim(expression);
    if (!e.empty() && e.front() == '=') {
        e = trim(e.substr(1));
    }
    if (sameWord(e, "null")) {
        return column.type == kBoolean ? std::nullopt : std::optional(FieldValue{});
    }
    if (sameWord(e, "date()") || sameWord(e, "now()")) {
        if (column.type != kDateTime) {
            return std::nullopt;
        }
        return FieldValue::of(little(jetDateTime(now, sameWord(e, "date()"))));
    }
    if (sameWord(e, "true") || sameWord(e, "yes") || sameWord(e, "on")) {
        return numeric(column.type, -1);
    }
    if (sameWord(e, "false") || sameWord(e, "no") || sameWord(e, "off")) {
        return numeric(column.type, 0);
    }
    if (e.size() >= 2 && (e.front() == '"' || e.front() == '\'') && e.back() == e.front()) {
        // A quoted text; the quote doubled inside stands for itself.
        const char quote = e.front();
        std::string value;
        for (std::size_t i = 1; i + 1 < e.size(); ++i) {
            if (e[i] == quote) {
                if (i + 2 < e.size() && e[i + 1] == quote) {
                    ++i;
                } else {
                    return std::nullopt;
                }
            }
            value.push_back(e[i]);
        }
        return text(column, value);
    }
    if (const std::optional<double> value = number(e)) {
        if (column.type == kText) {
            return text(column, e);
        }
        return numeric(column.type, *value);
    }
    return std::nullopt;
}

} // namespace velmora::jet
