#include "catalogue/program_folder.h"

#include "catalogue/copy/copy_error.h"
#include "catalogue/copy_file_modul.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

std::error_code checkProgramFolder(const std::string& applicationFolder, std::string_view program,
                                   FileSystem& fs) {
    const std::string programs = programFolderPath(applicationFolder, "");
    const Descriptor parent(fs, fs.openAt(AT_FDCWD, programs.c_str(), O_RDONLY | O_DIRECTORY, 0));
    if (!parent.valid()) {
        return systemError(errno);
    }
    const std::string name(program);
    struct stat found {};
    if (fs.fstatAt(parent.get(), name.c_str(), &found, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) {
            return systemError(errno);
        }
        // A new folder: Programi must take it.
        return ::faccessat(parent.get(), ".", W_OK | X_OK, AT_EACCESS) == 0 ? std::error_code()
                                                                            : systemError(errno);
    }
    if (S_ISLNK(found.st_mode)) {
        return CopyError::FolderIsLink;
    }
    if (!S_ISDIR(found.st_mode)) {
        return systemError(ENOTDIR);
    }
    return ::faccessat(parent.get(), name.c_str(), W_OK | X_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) ==
                   0
               ? std::error_code()
               : systemError(errno);
}

} // namespace velmora
