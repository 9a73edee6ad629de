#include "cli/add/list_decoder.h"

#include "catalogue/utf8.h"

#include <array>
#include <cerrno>
#include <cstdio>

namespace velmora {
namespace {

constexpr std::size_t kPieceSize = 64 * 1024;
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
constexpr std::string_view kUtf16BeMark = "\xFE\xFF";
const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

} // namespace

std::string hexByte(char byte) {
    std::array<char, 8> text{};
    std::snprintf(text.data(), text.size(), "0x%02X", static_cast<unsigned char>(byte));
    return text.data();
}

ListDecoder::ListDecoder(ListInput& input, const std::string& encoding)
    : m_input(input), m_encoding(encoding), m_named(!encoding.empty()) {
    // UTF-8 is checked here, more strictly than iconv does (it takes code
    // points above U+10FFFF).
    if (m_encoding == "UTF-8" || m_encoding == "utf-8" || m_encoding == "UTF8" ||
        m_encoding == "utf8") {
        m_encoding.clear();
    }
    if (!m_encoding.empty()) {
        m_iconv = iconv_open("UTF-8", m_encoding.c_str());
        if (m_iconv == kNoConverter) {
            m_fault = "unknown encoding \"" + m_encoding + "\" (iconv --list names the known ones)";
            m_ended = true;
        }
    }
}

ListDecoder::~ListDecoder() {
    if (m_iconv != kNoConverter) {
        iconv_close(m_iconv);
    }
}

bool ListDecoder::read(std::string& piece) {
    piece.clear();
    while (piece.empty()) {
        if (m_ended) {
            if (m_fault.empty() && !m_nextFault.empty()) {
                m_fault = std::move(m_nextFault);
                m_faultAtPosition = true;
            }
            return false;
        }
        std::array<char, kPieceSize> buffer{};
        const std::size_t got = m_input.read(buffer.data(), buffer.size());
        if (got == 0 && !m_input.error().empty()) {
            m_fault = m_input.error();
            m_ended = true;
            return false;
        }
        m_pending.append(buffer.data(), got);
        const bool atEnd = got == 0;
        if (!m_started) {
            // The byte order mark decides, so wait for its bytes.
            if (m_pending.size() < kUtf8Mark.size() && !atEnd) {
                continue;
            }
            m_started = true;
            const std::string_view start = m_pending;
            if (!m_named && start.starts_with(kUtf8Mark)) {
                m_pending.erase(0, kUtf8Mark.size());
            } else if (!m_named &&
                       (start.starts_with(kUtf16LeMark) || start.starts_with(kUtf16BeMark))) {
                m_encoding = start.starts_with(kUtf16LeMark) ? "UTF-16LE" : "UTF-16BE";
                m_pending.erase(0, kUtf16LeMark.size());
                m_iconv = iconv_open("UTF-8", m_encoding.c_str());
                if (m_iconv == kNoConverter) {
                    m_fault = "no converter from " + m_encoding;
                    m_ended = true;
                    return false;
                }
            }
        }
        if (m_iconv != kNoConverter && !convert(piece, atEnd)) {
            m_ended = true;
        }
        if (m_iconv == kNoConverter) {
            validate(piece, atEnd);
        }
        if (atEnd) {
            m_ended = true;
        }
        // A byte order mark that a named encoding decoded is no text either.
        if (!m_anyText && std::string_view(piece).starts_with(kUtf8Mark)) {
            piece.erase(0, kUtf8Mark.size());
        }
        m_anyText = m_anyText || !piece.empty();
    }
    return true;
}

// Converts what is pending into `piece`; false at a byte sequence that the
// encoding does not have (the text before it is in `piece`).
bool ListDecoder::convert(std::string& piece, bool atEnd) {
    char* in = m_pending.data();
    std::size_t inLeft = m_pending.size();
    bool ok = true;
    while (inLeft > 0) {
        std::array<char, kPieceSize> out{};
        char* outNext = out.data();
        std::size_t outLeft = out.size();
        const std::size_t result = iconv(m_iconv, &in, &inLeft, &outNext, &outLeft);
        const int error = result == static_cast<std::size_t>(-1) ? errno : 0;
        piece.append(out.data(), static_cast<std::size_t>(outNext - out.data()));
        if (error == E2BIG) {
            continue;
        }
        if (error == EINVAL && !atEnd) {
            break; // a character split across two reads: the rest comes next
        }
        if (error == EINVAL) {
            m_nextFault = "the list ends inside a character of " + m_encoding;
            ok = false;
        } else if (error != 0) {
            m_nextFault = "byte " + hexByte(*in) + " is not " + m_encoding;
            ok = false;
        }
        break;
    }
    m_pending.erase(0, m_pending.size() - inLeft);
    if (ok && atEnd) {
        // What a stateful encoding still holds.
        std::array<char, 64> out{};
        char* outNext = out.data();
        std::size_t outLeft = out.size();
        iconv(m_iconv, nullptr, nullptr, &outNext, &outLeft);
        piece.append(out.data(), static_cast<std::size_t>(outNext - out.data()));
    }
    return ok;
}

// Moves the well-formed UTF-8 at the start of what is pending into `piece`.
void ListDecoder::validate(std::string& piece, bool atEnd) {
    const std::string_view text = m_pending;
    std::size_t valid = 0;
    while (valid < text.size()) {
        if (static_cast<unsigned char>(text[valid]) < 0x80) {
            ++valid;
            continue;
        }
        const Utf8Character c = decodeUtf8(text.substr(valid));
        if (c.length > 0) {
            valid += c.length;
            continue;
        }
        if (!atEnd && text.size() - valid < 4) {
            break; // perhaps a character split across two reads
        }
        m_nextFault = "byte " + hexByte(text[valid]) +
                      " is not UTF-8; a list that a spreadsheet saved in Windows-1250 (Latin) or "
                      "Windows-1251 (Cyrillic) reads with --encoding windows-1250 (or "
                      "windows-1251)";
        m_ended = true;
        break;
    }
    piece.append(text.substr(0, valid));
    m_pending.erase(0, valid);
}

} // namespace velmora
