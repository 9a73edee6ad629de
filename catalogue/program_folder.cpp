#include "catalogue/program_folder.h"

namespace velmora {

std::string programFolderPath(std::string_view applicationFolder, std::string_view program) {
    std::string path(applicationFolder);
    path += "/Programi/";
    path += program;
    return path;
}

std::string targetPath(std::string_view programFolder, std::string_view name) {
    std::string path(programFolder);
    path += '/';
    path += name;
    return path;
}

} // namespace velmora
