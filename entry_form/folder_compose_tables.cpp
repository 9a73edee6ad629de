#include "entry_form/folder_compose_tables.h"

#include "catalogue/application_folder.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace velmora {

void useFolderComposeTables() {
    if (std::getenv("XLOCALEDIR") != nullptr) {
        return;
    }
    // libxkbcommon reads compose.dir there to find the table of the locale.
    const std::string tables = executableFolder() + "/share/X11/locale";
    std::error_code error;
    if (std::filesystem::is_regular_file(tables + "/compose.dir", error)) {
        ::setenv("XLOCALEDIR", tables.c_str(), 0);
    }
}

} // namespace velmora
