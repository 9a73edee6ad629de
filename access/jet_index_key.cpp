#include "access/jet_index_key.h"

#include "access/jet_table_definition.h"

#include <algorithm>

namespace velmora::jet {
namespace {

constexpr unsigned char kValueFlag = 0x7F;
constexpr unsigned char kNullFlag = 0x00;

} // namespace

bool keyEncodable(unsigned type) {
    switch (type) {
    case kBoolean:
    case kByte:
    case kInteger:
    case kLong:
    case kCurrency:
    case kSingle:
    case kDouble:
    case kDateTime:
        return true;
    default:
        return false;
    }
}

void appendKeyColumn(std::vector<unsigned char>& key, unsigned type, const FieldValue& value,
                     bool ascending) {
    const std::size_t start = key.size();
    if (type == kBoolean) {
        // Never NULL; Yes (-1) sorts before No (0).
        key.push_back(kValueFlag);
        key.push_back(value.boolean ? 0x00 : 0xFF);
    } else if (value.null) {
        key.push_back(kNullFlag);
    } else {
        key.push_back(kValueFlag);
        // Big-endian, so that bytes compare as numbers do.
        std::vector<unsigned char> big(value.bytes.rbegin(), value.bytes.rend());
        if (type == kSingle || type == kDouble || type == kDateTime) {
            // A negative number has every bit inverted (larger magnitudes sort
            // first); a positive one only its sign bit.
            if ((big[0] & 0x80) != 0) {
                std::transform(big.begin(), big.end(), big.begin(),
                               [](unsigned char b) { return static_cast<unsigned char>(~b); });
            } else {
                big[0] = static_cast<unsigned char>(big[0] | 0x80);
            }
        } else if (type != kByte) {
            // Two's complement with the sign bit flipped sorts as unsigned; a
            // byte is unsigned already.
            big[0] = static_cast<unsigned char>(big[0] ^ 0x80);
        }
        key.insert(key.end(), big.begin(), big.end());
    }
    if (!ascending) {
        std::transform(key.begin() + static_cast<std::ptrdiff_t>(start), key.end(),
                       key.begin() + static_cast<std::ptrdiff_t>(start),
                       [](unsigned char b) { return static_cast<unsigned char>(~b); });
    }
}

} // namespace velmora::jet
