#include "catalogue/program_folder.h"

namespace velmora {

std::string programFolderPath(std::string_view applicationFolder, std::string_view program) {
    std::string path(applicationFolder);
    path += "/Programi/";
    path += program;
    return path;
}

std::string pictureTargetPath(std::string_view programFolder) {
    return std::string(programFolder) + "/Picture.bmp";
}

std::string setupTargetPath(std::string_view programFolder) {
    return std::string(programFolder) + "/Setup.exe";
}

} // namespace velmora
