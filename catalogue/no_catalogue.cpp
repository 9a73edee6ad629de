#include "catalogue/no_catalogue.h"

namespace velmora {
namespace {

// The folder as a shell word, so the suggested command can be pasted.
std::string shellWord(std::string_view text) {
    if (!text.empty() &&
        text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                               "0123456789/._-+,:@%") == std::string_view::npos) {
        return std::string(text);
    }
    std::string word = "'";
    for (const char c : text) {
        word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return word + "'";
}

} // namespace

std::string noCatalogueDescription(std::string_view folder, std::string_view initProgram) {
    const std::string init = initProgram.empty() ? "velmora2-init" : shellWord(initProgram);
    return std::string(folder) + " holds no catalogue (Velmora2.db); make one with: " + init + " " +
           shellWord(folder);
}

} // namespace velmora
