#pragma once

#include <optional>
#include <string>

namespace velmora {

// When `collection` (empty: the folder that holds the executable) has no
// Velmora2.db, the line that names the folder and says how to make one;
// otherwise nothing, and whatever else is wrong with the catalogue is left to
// the add, which reports it with the database's own words.
std::optional<std::string> missingCatalogue(const std::string& collection);

} // namespace velmora
