#pragma once

#include <string>
#include <string_view>

namespace velmora {

// Whether Windows' file systems take `a` and `b` for the same name: equal once
// every code point of the Basic Multilingual Plane is mapped to its simple
// upper case, as the up-case tables of NTFS and exFAT map them (no other
// folding: "ß" stays "ß", nothing is normalised, code points beyond the BMP
// compare as they are). Bytes that are not UTF-8 compare as they are. The one
// case-insensitive comparison of names: program folders, device names, list
// columns.
bool sameWindowsName(std::string_view a, std::string_view b);

// The same comparison as a key: two names are the same to Windows exactly when
// their keys are equal (for sets and maps of names).
std::string windowsNameKey(std::string_view name);

} // namespace velmora
