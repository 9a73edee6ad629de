#pragma once

#include "access/jet_error.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

// Turning the bytes of Jet fields into the values the SQLite catalogue keeps.
// Pure functions of their bytes, so each rule is tested on its own.
namespace velmora::jet {

// Jet 4 text and memo bytes as UTF-8. Jet 4 stores UTF-16LE, or "compressed"
// text: the marker FF FE, then one byte per character, where a 0 byte switches
// between one and two bytes per character. Surrogate pairs (characters outside
// the Basic Multilingual Plane, such as emoji) become one character; a lone
// surrogate or a stray odd byte becomes U+FFFD.
std::string utf8FromJetText(std::span<const unsigned char> bytes);

// A Jet date/time (days since 1899-12-30; before that day the whole days count
// down while the fraction still counts the time of day forward) as
// "YYYY-MM-DD HH:MM:SS", to the nearest second. Nothing for a value that is not
// a number or lies outside the years 1 to 9999.
std::optional<std::string> dateTimeText(double days);

// A fixed-point value as exact decimal text with `scale` digits after the
// point: currency is ten-thousandths, so currencyText(-5) is "-0.0005".
std::string decimalText(std::int64_t unscaled, int scale);
inline std::string currencyText(std::int64_t tenThousandths) {
    return decimalText(tenThousandths, 4);
}

// The text libmdb formatted for a value (a replication ID, a decimal), which
// it gives as null when it cannot format it: then the value is refused, named
// by `what()`, rather than stored as an empty text that would pass for it.
template <class What> std::string formattedText(const char* formatted, const What& what) {
    if (formatted == nullptr) {
        throw JetError(what() + ", cannot be read (libmdb gives no text for it)");
    }
    return formatted;
}

// Little-endian integers and floating-point values from field bytes.
std::int64_t readSigned(std::span<const unsigned char> bytes); // 1 (unsigned), 2, 4 or 8 bytes
double readDouble(std::span<const unsigned char> bytes);       // 8 bytes
float readFloat(std::span<const unsigned char> bytes);         // 4 bytes

} // namespace velmora::jet
