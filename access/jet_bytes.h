#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Little-endian fields of Jet pages, and the big-endian ones of index entries.
namespace velmora::jet {

using Bytes = std::span<const unsigned char>;
using MutableBytes = std::span<unsigned char>;

inline std::uint32_t getLe16(Bytes b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8;
}
inline std::uint32_t getLe32(Bytes b, std::size_t at) {
    return getLe16(b, at) | getLe16(b, at + 2) << 16;
}
inline void putLe16(MutableBytes b, std::size_t at, std::uint32_t value) {
    b[at] = static_cast<unsigned char>(value);
    b[at + 1] = static_cast<unsigned char>(value >> 8);
}
inline void putLe32(MutableBytes b, std::size_t at, std::uint32_t value) {
    putLe16(b, at, value & 0xFFFF);
    putLe16(b, at + 2, value >> 16);
}
inline std::uint32_t getBe(Bytes b, std::size_t at, std::size_t width) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
        value = value << 8 | b[at + i];
    }
    return value;
}
inline void putBe(MutableBytes b, std::size_t at, std::size_t width, std::uint32_t value) {
    for (std::size_t i = width; i-- > 0;) {
        b[at + i] = static_cast<unsigned char>(value);
        value >>= 8;
    }
}

} // namespace velmora::jet
