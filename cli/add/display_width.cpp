#include "cli/add/display_width.h"

#include "catalogue/utf8.h"

#include <algorithm>
#include <clocale>
#include <cwchar>
#include <locale.h>
#include <sys/ioctl.h>

namespace velmora {
namespace {

// glibc's wcwidth, asked under C.UTF-8 whatever the process's locale is:
// the texts are UTF-8 and the widths are Unicode's. Made once, never changed.
class Utf8Locale {
public:
    Utf8Locale() : m_locale(newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{})) {}
    ~Utf8Locale() {
        if (m_locale != locale_t{}) {
            freelocale(m_locale);
        }
    }
    Utf8Locale(const Utf8Locale&) = delete;
    Utf8Locale& operator=(const Utf8Locale&) = delete;

    locale_t get() const { return m_locale; }

private:
    locale_t m_locale;
};

} // namespace

std::size_t displayWidth(char32_t codePoint) {
    if (codePoint >= 0x20 && codePoint < 0x7F) {
        return 1; // most of what is printed, without a change of locale
    }
    static const Utf8Locale utf8;
    if (utf8.get() == locale_t{}) {
        return 1; // no C.UTF-8 on this system: one column per code point
    }
    const locale_t previous = uselocale(utf8.get());
    const int width = wcwidth(static_cast<wchar_t>(codePoint));
    uselocale(previous);
    // -1: not printable or not assigned; the report shows those as one column.
    return width < 0 ? 1 : static_cast<std::size_t>(width);
}

std::size_t displayWidth(std::string_view text) {
    std::size_t used = 0;
    while (!text.empty()) {
        const Utf8Character c = decodeUtf8(text);
        used += displayWidth(c.codePoint);
        text.remove_prefix(std::max<std::size_t>(1, c.length));
    }
    return used;
}

std::size_t terminalColumns(int fd) {
    winsize size{};
    return ioctl(fd, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

} // namespace velmora
