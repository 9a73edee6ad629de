#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Texts of expressions as characters: UTF-8 in and out, letter case as the
// C library's Unicode tables (C.UTF-8) give it.
namespace velmora::jet {

// UTF-8 as code points (a malformed sequence becomes U+FFFD).
std::u32string toUtf32(std::string_view utf8);
std::string fromUtf32(std::u32string_view text);

// The UTF-16 code units a text takes, as the engine counts characters.
std::size_t toUtf16Length(std::u32string_view text);

std::u32string upperCase(std::u32string_view text);
std::u32string lowerCase(std::u32string_view text);

// A text in the form that compares without regard to letter case.
std::u32string foldCase(std::string_view utf8);

} // namespace velmora::jet
