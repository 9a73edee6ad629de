#pragma once

#include <exception>

namespace velmora {

class WindowServices;

// The exit status of a program ended by an unhandled failure.
inline constexpr int kUnhandledFailureExitStatus = 3;

// The last resort: shows the failure in a critical box, then ends the process
// with kUnhandledFailureExitStatus. The window is not trusted any more, so
// nothing of it is unwound.
[[noreturn]] void endWithUnhandledFailure(WindowServices& services, std::exception_ptr failure);

} // namespace velmora
