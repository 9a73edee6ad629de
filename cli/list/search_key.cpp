#include "cli/list/search_key.h"

#include <glib.h>
#include <memory>

namespace velmora {
namespace {

struct GFree {
    void operator()(gchar* text) const noexcept { g_free(text); }
};
using GText = std::unique_ptr<gchar, GFree>;

// Letters with a stroke have no decomposition, so Unicode leaves no accent to
// drop; users of the collection's languages type them without it all the same.
gunichar withoutStroke(gunichar c) {
    switch (c) {
    case 0x0110: // Đ
        return 'D';
    case 0x0111: // đ
        return 'd';
    case 0x0141: // Ł
        return 'L';
    case 0x0142: // ł
        return 'l';
    case 0x00D8: // Ø
        return 'O';
    case 0x00F8: // ø
        return 'o';
    case 0x0126: // Ħ
        return 'H';
    case 0x0127: // ħ
        return 'h';
    case 0x0131: // ı
        return 'i';
    default:
        return c;
    }
}

// "đ" is written "dj" where it cannot be typed ("Djordje"): both spellings
// become "d", in the pattern as in the text.
std::string withoutDj(std::string key) {
    std::size_t at = 0;
    while ((at = key.find("dj", at)) != std::string::npos) {
        key.erase(at + 1, 1);
        ++at;
    }
    return key;
}

} // namespace

std::string searchKey(std::string_view text) {
    bool ascii = true;
    for (const char c : text) {
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    }
    if (ascii) {
        std::string key(text);
        for (char& c : key) {
            c = g_ascii_tolower(c);
        }
        return withoutDj(std::move(key));
    }
    // glib's normalisation and case folding need valid UTF-8; an invalid byte
    // becomes U+FFFD, which nothing typed matches.
    const GText valid(g_utf8_make_valid(text.data(), static_cast<gssize>(text.size())));
    const GText decomposed(g_utf8_normalize(valid.get(), -1, G_NORMALIZE_NFD));
    if (!decomposed) {
        return std::string(text);
    }
    std::string bare;
    for (const gchar* at = decomposed.get(); *at != '\0'; at = g_utf8_next_char(at)) {
        const gunichar c = g_utf8_get_char(at);
        if (g_unichar_ismark(c)) {
            continue;
        }
        char encoded[6];
        bare.append(encoded,
                    static_cast<std::size_t>(g_unichar_to_utf8(withoutStroke(c), encoded)));
    }
    const GText folded(g_utf8_casefold(bare.c_str(), static_cast<gssize>(bare.size())));
    return withoutDj(folded ? std::string(folded.get()) : bare);
}

} // namespace velmora
