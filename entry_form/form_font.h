#pragma once

#include <QFont>

namespace velmora {

// The one font of the window and its controls: Tahoma 8.25 pt regular. Wine's
// metric-compatible Tahoma is loaded when the system has it; otherwise the
// font database picks the nearest face.
QFont formFont();

// Registers Wine's Tahoma with the application, once. Needs the application.
void loadFormFont();

} // namespace velmora
