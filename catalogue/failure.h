#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

namespace velmora {

// The one failure value of the add operation: a signed 32-bit number and a
// description. Thrown inside a run and caught by its handler, never beyond it.
struct Failure {
    std::int32_t number = 0;
    std::string description;
};

// The numbers of the failures that bring none of their own, one per kind.
inline constexpr std::int32_t kOverflowNumber = 6;
inline constexpr std::int32_t kOutOfMemoryNumber = 7;
inline constexpr std::int32_t kStandardExceptionNumber = -1;
inline constexpr std::int32_t kUnknownExceptionNumber = -2;

// What was thrown, as a Failure: a Failure as it is, a lack of memory as
// "Out of memory", another standard exception with its what(), anything else
// as "Nepoznata greška".
Failure describeFailure(std::exception_ptr thrown);

// The text of the box that reports a failure: "BROJ: <number>", the line
// break, "OPIS: <description>".
std::string failureText(const Failure& failure, std::string_view lineBreak = "\r\n");

} // namespace velmora
