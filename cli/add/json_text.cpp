#include "cli/add/json_text.h"

#include "catalogue/utf8.h"

#include <cstdio>

namespace velmora {

void appendJsonString(std::string& out, std::string_view text) {
    out += '"';
    while (!text.empty()) {
        const char c = text.front();
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
            text.remove_prefix(1);
            continue;
        }
        if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
            text.remove_prefix(1);
            continue;
        }
        if (static_cast<unsigned char>(c) < 0x80) {
            out += c;
            text.remove_prefix(1);
            continue;
        }
        const Utf8Character decoded = decodeUtf8(text);
        if (decoded.length == 0) {
            out += "\uFFFD";
            text.remove_prefix(1);
            continue;
        }
        out.append(text.substr(0, decoded.length));
        text.remove_prefix(decoded.length);
    }
    out += '"';
}

} // namespace velmora
