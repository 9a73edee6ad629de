#pragma once

#include <string>

namespace velmora {

// The folder that holds the running executable, as the bytes the system gives
// (no text conversion, so a folder name that is not UTF-8 works), without a
// trailing "/" except at the root. Asked of the system at each call, so a
// collection folder renamed while the program runs is followed. Empty when the
// system cannot say.
std::string executableFolder();

} // namespace velmora
