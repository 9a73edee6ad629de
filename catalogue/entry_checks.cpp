#include "catalogue/entry_checks.h"

#include "catalogue/utf8.h"

#include <algorithm>
#include <array>
#include <optional>

namespace velmora {
namespace {

struct CodePointRange {
    char32_t first;
    char32_t last;
};

// White_Space (PropList.txt) and Default_Ignorable_Code_Point
// (DerivedCoreProperties.txt) of Unicode 15, merged and sorted. Kept here
// rather than taken from ICU so that the catalogue core links SQLite alone.
constexpr std::array<CodePointRange, 23> kBlankRanges = {{
    {0x0009, 0x000D},   {0x0020, 0x0020},   {0x0085, 0x0085},   {0x00A0, 0x00A0}, {0x00AD, 0x00AD},
    {0x034F, 0x034F},   {0x061C, 0x061C},   {0x115F, 0x1160},   {0x1680, 0x1680}, {0x17B4, 0x17B5},
    {0x180B, 0x180F},   {0x2000, 0x200F},   {0x2028, 0x202F},   {0x205F, 0x206F}, {0x3000, 0x3000},
    {0x3164, 0x3164},   {0xFE00, 0xFE0F},   {0xFEFF, 0xFEFF},   {0xFFA0, 0xFFA0}, {0xFFF0, 0xFFF8},
    {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0000, 0xE0FFF},
}};

bool isBlankCodePoint(char32_t c) {
    const auto* range =
        std::lower_bound(kBlankRanges.begin(), kBlankRanges.end(), c,
                         [](const CodePointRange& r, char32_t value) { return r.last < value; });
    return range != kBlankRanges.end() && range->first <= c;
}

} // namespace

std::size_t characterCount(std::string_view utf8) {
    return static_cast<std::size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0U) != 0x80U;
    }));
}

bool isBlank(std::string_view text) {
    while (!text.empty()) {
        const std::optional<CodePoint> c = decodeUtf8(text);
        if (!c || !isBlankCodePoint(c->value)) {
            return false;
        }
        text.remove_prefix(c->length);
    }
    return true;
}

} // namespace velmora
