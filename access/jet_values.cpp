#include "access/jet_values.h"

#include "access/append_utf8.h"

#include <bit>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace velmora::jet {
namespace {

constexpr char32_t kReplacement = U'\uFFFD';

// Joins UTF-16 code units into characters; a high surrogate waits for its pair.
class Utf16Decoder {
public:
    explicit Utf16Decoder(std::string& out) : m_out(out) {}
    void unit(char16_t u) {
        if (m_high != 0) {
            if (u >= 0xDC00 && u <= 0xDFFF) {
                appendUtf8(m_out, 0x10000 + ((m_high - 0xD800) << 10) + (u - 0xDC00));
                m_high = 0;
                return;
            }
            appendUtf8(m_out, kReplacement);
            m_high = 0;
        }
        if (u >= 0xD800 && u <= 0xDBFF) {
            m_high = u;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            appendUtf8(m_out, kReplacement);
        } else {
            appendUtf8(m_out, u);
        }
    }
    void finish() {
        if (m_high != 0) {
            appendUtf8(m_out, kReplacement);
            m_high = 0;
        }
    }

private:
    std::string& m_out;
    char32_t m_high = 0;
};

} // namespace

std::string utf8FromJetText(std::span<const unsigned char> bytes) {
    std::string out;
    out.reserve(bytes.size());
    Utf16Decoder decoder(out);
    std::size_t i = 0;
    const bool compressed = bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
    if (compressed) {
        bool single = true;
        for (i = 2; i < bytes.size();) {
            if (bytes[i] == 0) {
                single = !single;
                ++i;
            } else if (single) {
                decoder.unit(bytes[i++]);
            } else if (i + 1 < bytes.size()) {
                decoder.unit(static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8));
                i += 2;
            } else {
                break;
            }
        }
    } else {
        for (; i + 1 < bytes.size(); i += 2) {
            decoder.unit(static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8));
        }
    }
    decoder.finish();
    if (i < bytes.size()) {
        appendUtf8(out, kReplacement); // half a character at the end
    }
    return out;
}

std::optional<std::string> dateTimeText(double days) {
    using namespace std::chrono;
    // Years 1 to 9999 lie within these days of 1899-12-30.
    if (!std::isfinite(days) || days < -693593.0 || days >= 2958466.0) {
        return std::nullopt;
    }
    const double whole = std::trunc(days);
    long long seconds = std::llround(std::fabs(days - whole) * 86400.0);
    long long day = static_cast<long long>(whole);
    if (seconds >= 86400) { // rounded up to the next midnight
        seconds -= 86400;
        ++day;
    }
    const year_month_day date{sys_days{1899y / December / 30} + std::chrono::days{day}};
    if (!date.ok() || date.year() < year{1} || date.year() > year{9999}) {
        return std::nullopt;
    }
    const int second = static_cast<int>(seconds);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  second / 3600, second / 60 % 60, second % 60);
    return std::string(text);
}

std::string decimalText(std::int64_t unscaled, int scale) {
    // Unsigned, so the most negative value has a magnitude too.
    const std::uint64_t magnitude = unscaled < 0
                                        ? std::uint64_t{0} - static_cast<std::uint64_t>(unscaled)
                                        : static_cast<std::uint64_t>(unscaled);
    std::string digits = std::to_string(magnitude);
    if (digits.size() <= static_cast<std::size_t>(scale)) {
        digits.insert(0, static_cast<std::size_t>(scale) + 1 - digits.size(), '0');
    }
    if (scale > 0) {
        digits.insert(digits.size() - static_cast<std::size_t>(scale), 1, '.');
    }
    return unscaled < 0 ? "-" + digits : digits;
}

std::int64_t readSigned(std::span<const unsigned char> bytes) {
    switch (bytes.size()) {
    case 1:
        return bytes[0]; // Jet's byte is unsigned
    case 2:
        return static_cast<std::int16_t>(bytes[0] | bytes[1] << 8);
    case 4:
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(bytes[0]) |
                                         static_cast<std::uint32_t>(bytes[1]) << 8 |
                                         static_cast<std::uint32_t>(bytes[2]) << 16 |
                                         static_cast<std::uint32_t>(bytes[3]) << 24);
    default:
        break;
    }
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < 8 && i < bytes.size(); ++i) {
        value |= static_cast<std::uint64_t>(bytes[i]) << (8 * i);
    }
    return static_cast<std::int64_t>(value);
}

double readDouble(std::span<const unsigned char> bytes) {
    return std::bit_cast<double>(static_cast<std::uint64_t>(readSigned(bytes.first(8))));
}

float readFloat(std::span<const unsigned char> bytes) {
    return std::bit_cast<float>(static_cast<std::uint32_t>(readSigned(bytes.first(4))));
}

} // namespace velmora::jet
