#include "catalogue/entry_checks.h"

#include "catalogue/utf8.h"
#include "catalogue/windows_name.h"

#include <algorithm>
#include <array>

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

// Windows takes these as devices (CONIN$ and CONOUT$ are the console's
// input and output) whatever follows the first dot, and
// ignores spaces before that dot ("nul .txt" is the device too). The
// superscript digits are Windows-1252's, which Windows reads as 1, 2 and 3.
// COM0 and LPT0 are refused too: Windows' own list of reserved names has held
// them and no longer does, and Explorer and older Windows refuse them, so a
// folder of that name would not travel to every Windows.
bool isDeviceName(std::string_view name) {
    std::string_view stem = name.substr(0, name.find('.'));
    stem = stem.substr(0, stem.find_last_not_of(' ') + 1);
    for (const std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (sameWindowsName(stem, device)) {
            return true;
        }
    }
    for (const std::string_view port : {"COM", "LPT"}) {
        if (stem.size() < 4 || !sameWindowsName(stem.substr(0, 3), port)) {
            continue;
        }
        const std::string_view number = stem.substr(3);
        if ((number.size() == 1 && number[0] >= '0' && number[0] <= '9') || number == "\u00B9" ||
            number == "\u00B2" || number == "\u00B3") {
            return true;
        }
    }
    return false;
}

} // namespace

bool isWindowsFolderName(std::string_view name) {
    constexpr std::string_view kForbidden = "<>:\"/\\|?*";
    const bool forbiddenCharacter = std::any_of(name.begin(), name.end(), [&](char c) {
        return static_cast<unsigned char>(c) < 0x20 || kForbidden.find(c) != std::string_view::npos;
    });
    return !name.empty() && firstNonUtf8(name) == name.size() && !forbiddenCharacter &&
           !name.ends_with('.') && !name.ends_with(' ') && !isDeviceName(name);
}

std::size_t characterCount(std::string_view utf8) {
    std::size_t count = 0;
    while (!utf8.empty()) {
        // A byte that starts no well-formed sequence is one character, as it
        // is shown (one replacement character each), never skipped.
        utf8.remove_prefix(std::max<std::size_t>(1, decodeUtf8(utf8).length));
        ++count;
    }
    return count;
}

bool isBlank(std::string_view text) {
    while (!text.empty()) {
        const Utf8Character c = decodeUtf8(text);
        if (c.length == 0 || !isBlankCodePoint(c.codePoint)) {
            return false;
        }
        text.remove_prefix(c.length);
    }
    return true;
}

} // namespace velmora
