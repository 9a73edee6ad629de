#include "access/jet_header.h"

#include "access/access_format.h"
#include "access/jet_write_error.h"

#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora::jet {
namespace {

constexpr std::array<unsigned char, 4> kHeaderKey = {0xC7, 0xDA, 0x39, 0x6B};

// RC4, as the header is masked with it; it protects nothing and is only undone.
std::vector<unsigned char> unmask(const HeaderLayout& layout, Bytes header) {
    std::array<unsigned char, 256> state{};
    for (std::size_t i = 0; i < state.size(); ++i) {
        state[i] = static_cast<unsigned char>(i);
    }
    unsigned j = 0;
    for (std::size_t i = 0; i < state.size(); ++i) {
        j = (j + state[i] + kHeaderKey[i % kHeaderKey.size()]) & 0xFF;
        std::swap(state[i], state[j]);
    }
    std::vector<unsigned char> plain(layout.maskedSize);
    unsigned a = 0;
    unsigned b = 0;
    for (std::size_t k = 0; k < plain.size(); ++k) {
        a = (a + 1) & 0xFF;
        b = (b + state[a]) & 0xFF;
        std::swap(state[a], state[b]);
        plain[k] = static_cast<unsigned char>(header[layout.maskedAt + k] ^
                                              state[(state[a] + state[b]) & 0xFF]);
    }
    return plain;
}

} // namespace

void checkWritableHeader(const JetFormat& format, Bytes header, std::string_view name) {
    const AccessFormat version = accessFormat(
        std::string_view(reinterpret_cast<const char*>(header.data()), kAccessHeaderSize));
    if (version != format.version) {
        throwUnsupported(std::string(name) + " is an Access (" +
                         std::string(accessFormatName(version)) +
                         ") catalogue, which the add cannot write in place; convert it with "
                         "velmora2-init --convert");
    }
    const HeaderLayout& layout = format.header;
    const auto plain = unmask(layout, header);
    if (getLe32(plain, layout.databaseKey - layout.maskedAt) != 0) {
        throwUnsupported(std::string(name) +
                         " is an encrypted Access catalogue, which the add cannot write in "
                         "place; decrypt it in Access");
    }
}

} // namespace velmora::jet
