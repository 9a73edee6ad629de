#pragma once

#include "catalogue/entry_window.h"

#include <array>
#include <cstddef>
#include <string>

namespace velmora {

// One entry for velmora2-add: the five texts that the window's controls would
// hold, and where the entry came from.
struct AddEntry {
    // The CSV line on which the entry's row starts; 0 for the entry that the
    // command line gives.
    int line = 0;
    std::array<std::string, 5> texts;
    // Why the entry is refused before the add, when its list says so (a field
    // longer than any path, of which `texts` holds only the start); empty: not.
    std::string refusal;

    static constexpr std::size_t index(Field field) { return static_cast<std::size_t>(field); }
    const std::string& text(Field field) const { return texts[index(field)]; }
    std::string& text(Field field) { return texts[index(field)]; }
};

} // namespace velmora
