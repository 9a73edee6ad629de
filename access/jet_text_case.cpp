#include "access/jet_text_case.h"

#include "access/append_utf8.h"

#include <clocale>
#include <locale.h>
#include <wctype.h>

namespace velmora::jet {
namespace {

// The C.UTF-8 locale's character classes, made once and never freed (the
// process keeps them to the end); nothing when the system lacks it, and then
// only ASCII letters change case.
locale_t unicodeLocale() {
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    return locale;
}

char32_t mapped(char32_t c, bool upper) {
    if (const locale_t locale = unicodeLocale(); locale != locale_t{}) {
        const auto wide = static_cast<wint_t>(c);
        return static_cast<char32_t>(upper ? towupper_l(wide, locale) : towlower_l(wide, locale));
    }
    if (upper && c >= U'a' && c <= U'z') {
        return c - 32;
    }
    if (!upper && c >= U'A' && c <= U'Z') {
        return c + 32;
    }
    return c;
}

std::u32string mapAll(std::u32string_view text, bool upper) {
    std::u32string out;
    out.reserve(text.size());
    for (const char32_t c : text) {
        out.push_back(mapped(c, upper));
    }
    return out;
}

} // namespace

std::u32string toUtf32(std::string_view utf8) {
    std::u32string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const std::size_t size = lead < 0x80   ? 1
                                 : lead < 0xC2 ? 0
                                 : lead < 0xE0 ? 2
                                 : lead < 0xF0 ? 3
                                 : lead < 0xF5 ? 4
                                               : 0;
        char32_t c = size == 1   ? lead
                     : size == 2 ? lead & 0x1F
                     : size == 3 ? lead & 0x0F
                                 : lead & 0x07;
        bool good = size != 0 && i + size <= utf8.size();
        for (std::size_t k = 1; good && k < size; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + k]);
            good = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        const char32_t least = size == 3 ? 0x800 : size == 4 ? 0x10000 : 0;
        if (!good || c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        out.push_back(c);
        i += size;
    }
    return out;
}

std::string fromUtf32(std::u32string_view text) {
    std::string out;
    for (const char32_t c : text) {
        appendUtf8(out, c);
    }
    return out;
}

std::size_t toUtf16Length(std::u32string_view text) {
    std::size_t units = 0;
    for (const char32_t c : text) {
        units += c >= 0x10000 ? 2 : 1;
    }
    return units;
}

std::u32string upperCase(std::u32string_view text) {
    return mapAll(text, true);
}
std::u32string lowerCase(std::u32string_view text) {
    return mapAll(text, false);
}
std::u32string foldCase(std::string_view utf8) {
    return lowerCase(toUtf32(utf8));
}

} // namespace velmora::jet
