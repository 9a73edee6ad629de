#include "catalogue/windows_name.h"

#include "access/append_utf8.h"
#include "catalogue/utf8.h"

#include <cwctype>
#include <locale.h>

namespace velmora {
namespace {

// glibc's towupper under C.UTF-8, whatever the process's locale: its table is
// Unicode's simple upper-case mapping, which is what the up-case tables of
// NTFS and exFAT hold for the BMP. Made once and never changed.
class UpperCase {
public:
    UpperCase() : m_locale(newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{})) {}
    ~UpperCase() {
        if (m_locale != locale_t{}) {
            freelocale(m_locale);
        }
    }
    UpperCase(const UpperCase&) = delete;
    UpperCase& operator=(const UpperCase&) = delete;

    char32_t operator()(char32_t c) const {
        if (c < 0x80) {
            return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
        }
        if (c > 0xFFFF || m_locale == locale_t{}) {
            return c;
        }
        const wint_t upper = towupper_l(static_cast<wint_t>(c), m_locale);
        // A mapping out of the BMP is one the 16-bit tables cannot hold.
        return upper > 0xFFFF ? c : static_cast<char32_t>(upper);
    }

private:
    locale_t m_locale;
};

// The next character of `text` in upper case, consumed; a byte that starts no
// UTF-8 sequence stands for itself, apart from every code point.
char32_t nextUpper(std::string_view& text, const UpperCase& upper) {
    const Utf8Character c = decodeUtf8(text);
    if (c.length == 0) {
        const auto byte = static_cast<unsigned char>(text.front());
        text.remove_prefix(1);
        return 0x110000 + byte;
    }
    text.remove_prefix(c.length);
    return upper(c.codePoint);
}

const UpperCase& upperCase() {
    static const UpperCase upper;
    return upper;
}

} // namespace

std::string windowsNameKey(std::string_view name) {
    std::string key;
    key.reserve(name.size());
    while (!name.empty()) {
        const char32_t c = nextUpper(name, upperCase());
        if (c >= 0x110000) {
            key += static_cast<char>(c - 0x110000); // a byte that is not UTF-8, as it is
        } else {
            appendUtf8(key, c);
        }
    }
    return key;
}

bool sameWindowsName(std::string_view a, std::string_view b) {
    const UpperCase& upper = upperCase();
    while (!a.empty() && !b.empty()) {
        if (nextUpper(a, upper) != nextUpper(b, upper)) {
            return false;
        }
    }
    return a.empty() && b.empty();
}

} // namespace velmora
