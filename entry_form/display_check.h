#pragma once

#include <optional>
#include <string>

namespace velmora {

// Run before the application object is made, whose platform plugin aborts the
// process when it cannot reach a display. When Qt will start on a display
// server (its default, xcb or wayland) and neither DISPLAY nor WAYLAND_DISPLAY
// leads to one that accepts a connection, returns the one line to print on
// standard error; otherwise nothing. A platform without a display server
// (offscreen, vnc, linuxfb...) asked for with -platform or QT_QPA_PLATFORM is
// left to Qt.
std::optional<std::string> missingDisplay(int argc, char** argv);

} // namespace velmora
