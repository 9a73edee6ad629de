#pragma once

#include <string>
#include <string_view>

namespace velmora {

// A text as velmora2-list's PATTERN is matched against it: without accents
// and in one letter case, so "sah", "ŠAH" and "Šah" are the same, as are
// "Djordje" and "Đorđe". Bytes that are not UTF-8 are kept apart and match
// only themselves.
std::string searchKey(std::string_view text);

} // namespace velmora
