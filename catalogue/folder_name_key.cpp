#include "catalogue/folder_name_key.h"

#include "catalogue/utf8.h"

#include <glib.h>

namespace velmora {

std::string folderNameKey(std::string_view name) {
    std::string key;
    key.reserve(name.size());
    while (!name.empty()) {
        const Utf8Character c = decodeUtf8(name);
        if (c.length == 0) {
            key += name.front();
            name.remove_prefix(1);
            continue;
        }
        name.remove_prefix(c.length);
        if (c.codePoint < 0x80) {
            const char ascii = static_cast<char>(c.codePoint);
            key += ascii >= 'a' && ascii <= 'z' ? static_cast<char>(ascii - 'a' + 'A') : ascii;
            continue;
        }
        // glib's mapping is the locale-independent simple one, which the
        // C library's towupper is not.
        char encoded[6];
        const gint length = g_unichar_to_utf8(g_unichar_toupper(c.codePoint), encoded);
        key.append(encoded, static_cast<std::size_t>(length));
    }
    return key;
}

} // namespace velmora
