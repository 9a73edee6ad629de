#pragma once

#include "catalogue/copy/entry_name.h"

#include <cstddef>
#include <string_view>

namespace velmora {

// The longest description that an add takes, in characters.
inline constexpr std::size_t kMaxDescriptionLength = 49;

// Characters are Unicode code points; each byte that is not part of
// well-formed UTF-8 counts as one character of its own.
std::size_t characterCount(std::string_view utf8);

// A field that shows a person nothing: empty, or UTF-8 made only of white space
// (Unicode's White_Space, the no-break and ideographic spaces among them) and
// characters drawn as nothing (Default_Ignorable_Code_Point: zero-width
// spaces and joiners, the soft hyphen, the byte order mark and the like).
// Bytes that are not valid UTF-8 count as something shown.
bool isBlank(std::string_view text);

// A name that a Windows folder can hold, so that the collection's program
// folder can be made wherever the collection travels: UTF-8 (Windows names are
// Unicode), none of < > : " / \ | ? * or a control character, no dot or space
// at the end, and not a device name (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0
// to COM9, LPT0 to LPT9, COM or LPT with a superscript 1, 2 or 3, in any case,
// alone or before an extension).
bool isWindowsFolderName(std::string_view name);

} // namespace velmora
