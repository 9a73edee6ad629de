#pragma once

namespace velmora {

// An installed folder carries X's compose tables (share/X11/locale), which
// dead keys and the Compose key need and a bare system lacks. Points the
// keyboard library at them, unless the user chose a folder (XLOCALEDIR); call
// before the application exists.
void useFolderComposeTables();

} // namespace velmora
