#include "access/jet_header.h"

#include "access/access_format.h"
#include "access/jet_write_error.h"

#include <array>
#include <string_view>
#include <utility>

namespace velmora::jet {
namespace {

constexpr std::size_t kMaskedAt = 0x18;
constexpr std::size_t kMaskedSize = 128;
constexpr std::size_t kDatabaseKeyAt = 0x3E;
constexpr std::array<unsigned char, 4> kHeaderKey = {0xC7, 0xDA, 0x39, 0x6B};

// RC4, as the header is masked with it; it protects nothing and is only undone.
std::array<unsigned char, kMaskedSize> unmask(const Page& header) {
    std::array<unsigned char, 256> state{};
    for (std::size_t i = 0; i < state.size(); ++i) {
        state[i] = static_cast<unsigned char>(i);
    }
    unsigned j = 0;
    for (std::size_t i = 0; i < state.size(); ++i) {
        j = (j + state[i] + kHeaderKey[i % kHeaderKey.size()]) & 0xFF;
        std::swap(state[i], state[j]);
    }
    std::array<unsigned char, kMaskedSize> plain{};
    unsigned a = 0;
    unsigned b = 0;
    for (std::size_t k = 0; k < plain.size(); ++k) {
        a = (a + 1) & 0xFF;
        b = (b + state[a]) & 0xFF;
        std::swap(state[a], state[b]);
        plain[k] =
            static_cast<unsigned char>(header[kMaskedAt + k] ^ state[(state[a] + state[b]) & 0xFF]);
    }
    return plain;
}

} // namespace

void checkWritableHeader(const Page& header) {
    const AccessFormat format = accessFormat(
        std::string_view(reinterpret_cast<const char*>(header.data()), kAccessHeaderSize));
    if (format != AccessFormat::Jet4) {
        throw JetWriteError(JetWriteError::Kind::Unsupported, kJetCannotWriteInPlace,
                            "Velmora2.db is an Access (" + std::string(accessFormatName(format)) +
                                ") catalogue, which the add cannot write in place; convert it "
                                "with velmora2-init --convert");
    }
    const auto plain = unmask(header);
    if (getLe32(plain, kDatabaseKeyAt - kMaskedAt) != 0) {
        throw JetWriteError(JetWriteError::Kind::Unsupported, kJetCannotWriteInPlace,
                            "Velmora2.db is an encrypted Access catalogue, which the add cannot "
                            "write in place; decrypt it in Access");
    }
}

} // namespace velmora::jet
