#include "access/jet_text_key.h"

#include "access/jet_text_weights.h"

#include <algorithm>

namespace velmora::jet {
namespace {

constexpr unsigned char kValueFlag = 0x7F;
constexpr unsigned char kSectionEnd = 0x01;
constexpr unsigned char kKeyEnd = 0x00;
constexpr unsigned char kPlainAccent = 0x02;
constexpr unsigned char kSpecialScript = 0x06;
constexpr std::uint32_t kSpecialPlace = 0x8000;
// Only this many characters of a value are keyed.
constexpr std::size_t kKeyedCharacters = 255;

const TextWeightRun* runOf(char16_t c) {
    const auto found = std::lower_bound(
        kGeneralTextWeights.begin(), kGeneralTextWeights.end(), c,
        [](const TextWeightRun& run, char16_t wanted) { return run.last < wanted; });
    return found != kGeneralTextWeights.end() && found->first <= c ? &*found : nullptr;
}

} // namespace

TextKey generalTextKey(std::u16string_view text) {
    text = text.substr(0, kKeyedCharacters);
    while (!text.empty() && text.back() == u' ') {
        text.remove_suffix(1);
    }
    std::vector<unsigned char> weights{kValueFlag};
    std::vector<unsigned char> accents;
    std::vector<unsigned char> specials;
    for (const char16_t c : text) {
        const TextWeightRun* run = runOf(c);
        if (run == nullptr || run->kind == kUnknown || (run->kind == kMark && accents.empty())) {
            return {{}, c};
        }
        switch (run->kind) {
        case kLetter: {
            const std::uint32_t value =
                run->weights + run->step * static_cast<std::uint32_t>(c - run->first);
            for (unsigned i = run->length; i-- > 0;) {
                weights.push_back(static_cast<unsigned char>(value >> (8 * i)));
            }
            accents.insert(accents.end(), run->accents.begin(), run->accents.begin() + run->places);
            break;
        }
        case kSpecial: {
            const auto place = static_cast<std::uint32_t>(kSpecialPlace + 4 * accents.size() + 7);
            specials.insert(specials.end(),
                            {static_cast<unsigned char>(place >> 8),
                             static_cast<unsigned char>(place), kSpecialScript, run->accents[0]});
            break;
        }
        case kMark:
            accents.back() = static_cast<unsigned char>(accents.back() + run->accents[0]);
            break;
        default:
            break;
        }
    }
    while (!accents.empty() && accents.back() == kPlainAccent) {
        accents.pop_back();
    }
    weights.push_back(kSectionEnd);
    weights.insert(weights.end(), accents.begin(), accents.end());
    if (!specials.empty()) {
        weights.insert(weights.end(), {kSectionEnd, kSectionEnd, kSectionEnd});
        weights.insert(weights.end(), specials.begin(), specials.end());
    }
    weights.push_back(kKeyEnd);
    return {std::move(weights), std::nullopt};
}

} // namespace velmora::jet
