#pragma once

#include <string>
#include <string_view>

namespace velmora {

// A program name as the Windows file system compares folder names: every
// letter upper-cased one code point at a time (the simple Unicode mapping, as
// NTFS's upcase table does), nothing else folded. Two names name the same
// folder there exactly when their keys are equal. Bytes that are not UTF-8
// stay as they are.
std::string folderNameKey(std::string_view name);

} // namespace velmora
