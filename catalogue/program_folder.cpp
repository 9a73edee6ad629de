#include "catalogue/program_folder.h"

#include "catalogue/copy/copy_error.h"
#include "catalogue/copy_file_modul.h"

#include <cerrno>
#include <fcntl.h>

namespace velmora {

std::string programFolderPath(std::string_view applicationFolder, std::string_view program) {
    std::string path(applicationFolder);
    path += '/';
    path += kProgramsFolder;
    path += '/';
    path += program;
    return path;
}

std::string targetPath(std::string_view programFolder, std::string_view name) {
    std::string path(programFolder);
    path += '/';
    path += name;
    return path;
}

OpenedFolder openProgramFolder(const std::string& applicationFolder, std::string_view program,
                               FileSystem& fs) {
    const std::string programs = programFolderPath(applicationFolder, "");
    const Descriptor parent(fs, fs.openAt(AT_FDCWD, programs.c_str(), O_RDONLY | O_DIRECTORY, 0));
    if (!parent.valid()) {
        return {{}, systemError(errno)};
    }
    return CreateDirectoryA(parent.get(), program, fs);
}

} // namespace velmora
