#pragma once

#include <QFont>

namespace velmora {

// The one font of the window and its controls: Tahoma 8.25 pt regular. The
// metric-compatible Tahoma installed in the program's folder (fonts/) is
// loaded, else Wine's where the system has it; otherwise the font database
// picks the nearest face.
QFont formFont();

// Registers that Tahoma with the application, once. Needs the application.
void loadFormFont();

// An installed folder carries a fontconfig file of its own (fonts/fonts.conf:
// its fonts, then the system's), for systems without one. Points fontconfig
// at it, unless the user chose a file; call before the application exists.
void useFolderFontConfig();

} // namespace velmora
