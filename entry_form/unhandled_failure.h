#pragma once

#include <QString>
#include <cstdint>
#include <exception>

namespace velmora {

class WindowServices;

// The number and description of a failure that no command handled.
struct UnhandledFailure {
    std::int32_t number = 0;
    QString description;
};

// The number given to a standard exception, and to anything else thrown.
inline constexpr std::int32_t kStandardExceptionNumber = 1;
inline constexpr std::int32_t kUnknownExceptionNumber = 2;
// The exit status of a program ended by an unhandled failure.
inline constexpr int kUnhandledFailureExitStatus = 3;

// What `failure` carries: a Failure's own number and description, a standard
// exception's what().
UnhandledFailure describeFailure(std::exception_ptr failure);

// The box's text: "BROJ: <number>", a line break, "OPIS: <description>".
QString unhandledFailureText(const UnhandledFailure& failure);

// The last resort: shows the failure in a critical box, then ends the process
// with kUnhandledFailureExitStatus. The window is not trusted any more, so
// nothing of it is unwound.
[[noreturn]] void endWithUnhandledFailure(WindowServices& services, std::exception_ptr failure);

} // namespace velmora
